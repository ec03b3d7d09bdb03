#!/usr/bin/env python3
"""Times commands in alternating runs and prints each one's median wall and
CPU time, and its ratio to the first command's: on a shared, noisy machine,
runs that take turns see the same weather.

usage: bench/compare.py [--runs N] [--clean PATH] [--name NAME] CMD
                        [--name NAME] CMD ...

Each CMD is one shell command line. --clean PATH removes PATH (a file or a
folder) before every run, for outputs that must not exist yet.
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time


def main():
    runs, clean = 5, []
    commands, names, name = [], [], None
    items = iter(sys.argv[1:])
    for item in items:
        if item == "--runs":
            runs = int(next(items))
        elif item == "--clean":
            clean.append(next(items))
        elif item == "--name":
            name = next(items)
        else:
            commands.append(item)
            names.append(name or item)
            name = None
    if not commands:
        sys.exit(__doc__)

    walls = [[] for _ in commands]
    cpus = [[] for _ in commands]
    for _ in range(runs):
        for i, command in enumerate(commands):
            for path in clean:
                if os.path.isdir(path) and not os.path.islink(path):
                    shutil.rmtree(path)
                elif os.path.lexists(path):
                    os.remove(path)
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.monotonic()
            status = subprocess.call(command, shell=True,
                                     stdout=subprocess.DEVNULL)
            wall = time.monotonic() - start
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            if status not in (0, 1):
                sys.exit("exit status %d: %s" % (status, command))
            walls[i].append(wall)
            cpus[i].append(after.ru_utime - before.ru_utime +
                           after.ru_stime - before.ru_stime)

    base = statistics.median(walls[0])
    print("%-40s %10s %10s %8s" % ("command", "wall s", "cpu s", "ratio"))
    for i, name in enumerate(names):
        wall = statistics.median(walls[i])
        print("%-40s %10.3f %10.3f %8.3f" %
              (name[:40], wall, statistics.median(cpus[i]), wall / base))


if __name__ == "__main__":
    main()
