#!/usr/bin/env python3
"""Fails when the sources under src/ break the order of the layers.

The order is written once, in HACKING.md, on the line that begins (after its
indentation) with "platform ->" (with arrows); folders named together with
commas share a layer. The folders live in groups, src/N-NAME/FOLDER, whose
numbers follow that order, so that a listing of src/ shows it. Checked:
- every folder is named on the line, and no group holds a folder that the
  line puts below a folder of a lower-numbered group;
- no file includes a header of a higher layer (tests, *_test.cpp, may
  include anything: they test a layer from above);
- no two folders include each other, directly or around a loop.

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


def folders_of(src):
    """(group, folder) for every folder, groups in their numbered order."""
    groups = sorted((g for g in os.listdir(src)
                     if os.path.isdir(os.path.join(src, g))),
                    key=lambda g: int(g.split("-", 1)[0])
                    if g.split("-", 1)[0].isdigit() else -1)
    return [(g, f) for g in groups
            for f in sorted(os.listdir(os.path.join(src, g)))
            if os.path.isdir(os.path.join(src, g, f))]


def find_loop(edges):
    """A loop of folders in the include graph, or None."""
    state = {}

    def visit(node, path):
        state[node] = "open"
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == "open":
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                loop = visit(nxt, path + [nxt])
                if loop:
                    return loop
        state[node] = "done"
        return None

    for node in sorted(edges):
        if node not in state:
            loop = visit(node, [node])
            if loop:
                return loop
    return None


def main():
    root = sys.argv[1]
    rank = read_order(os.path.join(root, "HACKING.md"))
    src = os.path.join(root, "src")
    problems = []
    include = re.compile(r'^\s*#\s*include\s+"([^/"]+)/[^"]+"')
    edges = {}
    highest_before = -1  # the highest rank of the groups listed so far
    group_top = {}
    for group, folder in folders_of(src):
        where = "src/%s/%s" % (group, folder)
        if not re.match(r"^\d+-", group):
            problems.append("src/%s: a group's name begins with its number" %
                            group)
        if folder not in rank:
            problems.append("%s: not in HACKING.md's layer order" % where)
            continue
        group_top.setdefault(group, highest_before)
        if rank[folder] <= group_top[group]:
            problems.append("%s: its layer lies below a folder of an earlier "
                            "group" % where)
        highest_before = max(highest_before, rank[folder])
        path = os.path.join(src, group, folder)
        for name in sorted(os.listdir(path)):
            if not name.endswith((".h", ".cpp")) or name.endswith("_test.cpp"):
                continue
            with open(os.path.join(path, name), encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    m = include.match(line)
                    if not m or m.group(1) not in rank:
                        continue
                    other = m.group(1)
                    if other != folder:
                        edges.setdefault(folder, set()).add(other)
                    if rank[other] > rank[folder]:
                        problems.append(
                            "%s/%s:%d: %s includes the higher layer %s" %
                            (where, name, number, folder, other))
    loop = find_loop(edges)
    if loop:
        problems.append("folders include each other: " + " -> ".join(loop))
    for problem in problems:
        print(problem)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
