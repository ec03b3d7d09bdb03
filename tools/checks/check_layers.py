#!/usr/bin/env python3
"""Fails when a source file under src/ includes a header of a higher layer.

The order of the layers is written once, in HACKING.md, on the line that
begins (after its indentation) with "platform ->" (with arrows); folders
named together with commas share a layer. Every folder under src/ must be
named there. Tests (*_test.cpp) may include anything: they test a layer
from above.

usage: check_layers.py REPOSITORY
"""
import os
import re
import sys


def read_order(hacking):
    with open(hacking, encoding="utf-8") as f:
        for line in f:
            if line.strip().startswith("platform \u2192"):
                layers = [part.strip() for part in line.split("\u2192")]
                return {folder.strip(): rank
                        for rank, layer in enumerate(layers)
                        for folder in layer.split(",")}
    sys.exit("HACKING.md names no layer order (a line 'platform \u2192 ...')")


def main():
    root = sys.argv[1]
    rank = read_order(os.path.join(root, "HACKING.md"))
    src = os.path.join(root, "src")
    problems = []
    include = re.compile(r'^\s*#\s*include\s+"([^/"]+)/[^"]+"')
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in rank:
            problems.append("src/%s: not in HACKING.md's layer order" % folder)
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith((".h", ".cpp")) or name.endswith("_test.cpp"):
                continue
            with open(os.path.join(path, name), encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    m = include.match(line)
                    if not m or m.group(1) not in rank:
                        continue
                    if rank[m.group(1)] > rank[folder]:
                        problems.append(
                            "src/%s/%s:%d: %s includes the higher layer %s" %
                            (folder, name, number, folder, m.group(1)))
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
