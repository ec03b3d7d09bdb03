#!/usr/bin/env bash
# Runs two korvane programs over the same bases with the same arguments and
# requires the same outputs, console text and exit status from both: for a
# change that must not change what the program does (a restructuring, a
# speed-up). Bases: ordinary messages, mailing-list messages, rough edges
# ("From " lines, 8-bit senders), and damaged ones for the recovery scan;
# each as one base (mbox, Maildir, .eml files, both scans; the inventory)
# and as a tree (mbox, Maildir and .eml files, -j1 and -j2; the inventory
# with -j1, where its rows come in one order).
#
# A Maildir is compared as the sorted list of its files' folders, sizes,
# write times and digests (file names hold the time and process of the
# run); a tree run's journal is left out (it names the process and host).
# Console lines with timings are compared without the figures.
#
# usage: bench/differential.sh OLD_KORVANE NEW_KORVANE MKBASE [SIZE]
set -euo pipefail

old=$(realpath "$1") new=$(realpath "$2") mkbase=$3 size=${4:-$((16 << 20))}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$work/data
mkdir -p "$data/tree/Inbox" "$data/tree/Lists/Big" "$data/tree/Bad"

"$mkbase" --quiet --synthetic-bytes "$size" "$data/plain.tbb"
"$mkbase" --quiet --synthetic-bytes "$size" --list-mail --lf "$data/list.tbb"
"$mkbase" --quiet --synthetic-bytes $((size / 4)) --rough "$data/rough.tbb"
"$mkbase" --quiet --synthetic 400 --length 17=+40 --zeros-before 60=300 \
  --garbage-before 200=5000 --bad-magic 310 "$data/damaged.tbb"
cp "$data/plain.tbb" "$data/tree/messages.tbb"
cp "$data/list.tbb" "$data/tree/Lists/Big/messages.tbb"
cp "$data/rough.tbb" "$data/tree/Inbox/messages.tbb"
cp "$data/damaged.tbb" "$data/tree/Bad/messages.tbb"

# What a run leaves, in a form that two runs can be compared by: each
# file's path (a Maildir message's by its folder only), size and digest, and
# a Maildir message's or .eml file's write time (the envelope date).
describe() {
  python3 - "$1" <<'PY'
import hashlib, os, sys
out = sys.argv[1]
def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()
if os.path.isfile(out):
    print(digest(out))
elif os.path.isdir(out):
    rows = []
    for folder, _, files in os.walk(out):
        rel = os.path.relpath(folder, out)
        message = os.path.basename(folder) in ("cur", "new", "tmp")
        for name in files:
            if rel == "." and name == ".korvane-run":
                continue  # a tree run's journal: its ROOT, process, host
            path = os.path.join(folder, name)
            st = os.stat(path)
            dated = message or name.endswith(".eml")
            rows.append("%s %s %d %s %s" % (
                rel, "" if message else name, st.st_size,
                int(st.st_mtime) if dated else "", digest(path)))
    print("\n".join(sorted(rows)))
else:
    print("nothing")
PY
}

console() {
  sed -E 's/time left [0-9:.]+/time left T/; s/in [0-9.]+ seconds/in T seconds/;
          s/[0-9.]+ MiB\/s/R MiB\/s/' "$1" | tr '\r' '\n' |
    grep -Ev '^ *[0-9]+%$|^[0-9]+ of [0-9]+ bases' || true
}

failures=0
compare() {  # name, then the arguments after the program
  local name=$1
  shift
  local side
  for side in old new; do
    local program=$old
    [ $side = new ] && program=$new
    rm -rf "$work/run"
    mkdir "$work/run"
    local args=("$@")
    args=("${args[@]//@OUT@/$work/run/out}")
    set +e
    (cd "$work/run" && "$program" "${args[@]}" >"$work/console-$side")
    echo "status $?" >>"$work/console-$side"
    set -e
    describe "$work/run/out" >"$work/output-$side"
    # A single run's inventory (-l) lies beside its output.
    if [ -f "$work/run/out.csv" ]; then
      describe "$work/run/out.csv" >>"$work/output-$side"
    fi
  done
  if cmp -s "$work/output-old" "$work/output-new" &&
     diff <(console "$work/console-old") <(console "$work/console-new") \
       >/dev/null; then
    printf '%-36s same\n' "$name"
  else
    printf '%-36s DIFFERENT\n' "$name"
    diff <(console "$work/console-old") <(console "$work/console-new") |
      head -5 || true
    diff "$work/output-old" "$work/output-new" | head -5 || true
    failures=$((failures + 1))
  fi
}

for base in plain list rough damaged; do
  compare "$base mbox" "$data/$base.tbb" @OUT@
  compare "$base mbox -a" "$data/$base.tbb" @OUT@ -a
  compare "$base Maildir" "$data/$base.tbb" @OUT@ -m
  compare "$base Maildir -a" "$data/$base.tbb" @OUT@ -m -a
  compare "$base eml" "$data/$base.tbb" @OUT@ -e
  compare "$base eml -a" "$data/$base.tbb" @OUT@ -e -a
  compare "$base mbox -l" "$data/$base.tbb" @OUT@ -l
  compare "$base eml -l -a" "$data/$base.tbb" @OUT@ -e -l -a
done
for jobs in 1 2; do
  compare "tree mbox -j$jobs" "$data/tree" @OUT@ -r -j$jobs
  compare "tree Maildir -j$jobs" "$data/tree" @OUT@ -r -m -j$jobs
  compare "tree eml -j$jobs" "$data/tree" @OUT@ -r -e -j$jobs
done
# One base at a time: the inventory's rows in one order.
compare "tree mbox -l -j1" "$data/tree" @OUT@ -r -l -j1
compare "tree eml -l -j1" "$data/tree" @OUT@ -r -e -l -j1
echo "$failures differences"
[ "$failures" -eq 0 ]
