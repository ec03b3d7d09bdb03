#!/usr/bin/env bash
# Runs two korvane programs over the same bases with the same arguments and
# requires the same outputs, console text and exit status from both: for a
# change that must not change what the program does (a restructuring, a
# speed-up). Bases: ordinary messages, mailing-list messages, rough edges
# ("From " lines, 8-bit senders), and damaged ones for the recovery scan;
# each as one base (mbox, Maildir, .eml files, both scans; the inventory)
# and as a tree (mbox, Maildir and .eml files, -j1 and -j2; the inventory
# with -j1, where its rows come in one order); the refusals before anything
# is made and a tree run again into its OUTDIR; and, as root where Dovecot
# is installed, uploads into an account on a throwaway Dovecot (one base, a
# tree, a rerun), compared by what arrived: each message's bytes, internal
# date and flags, per folder.
#
# A Maildir is compared as the sorted list of its files' folders, sizes,
# write times and digests (file names hold the time and process of the
# run); a tree run's journal is left out (it names the process and host).
# Console lines with timings are compared without the figures.
#
# usage: bench/differential.sh OLD_KORVANE NEW_KORVANE MKBASE [SIZE]
set -euo pipefail

old=$(realpath "$1") new=$(realpath "$2") mkbase=$3 size=${4:-$((16 << 20))}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ]; then
    sh "$root/src/5-output/imap/dovecot_test_server.sh" stop "$server" || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
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
# The case's outputs and console text, old against new: "same", or the
# first of their differences.
verdict() {  # name
  local name=$1
  if cmp -s "$work/output-old" "$work/output-new" &&
     diff <(console "$work/console-old") <(console "$work/console-new") \
       >/dev/null; then
    printf '%-36s same (%s lines)\n' "$name" "$(wc -l <"$work/output-new")"
  else
    printf '%-36s DIFFERENT\n' "$name"
    diff <(console "$work/console-old") <(console "$work/console-new") |
      head -5 || true
    diff "$work/output-old" "$work/output-new" | head -5 || true
    failures=$((failures + 1))
  fi
}

# $setup runs in the run's folder before it; $times is how often the
# program runs there (a second run finds the first's OUTDIR).
setup=:
times=1
compare() {  # name, then the arguments after the program
  local name=$1
  shift
  local side
  for side in old new; do
    local program=$old
    [ $side = new ] && program=$new
    rm -rf "$work/run"
    mkdir "$work/run"
    (cd "$work/run" && eval "$setup")
    local args=("$@")
    args=("${args[@]//@OUT@/$work/run/out}")
    : >"$work/console-$side"
    local n
    set +e
    for n in $(seq "$times"); do
      (cd "$work/run" && "$program" "${args[@]}" >>"$work/console-$side")
      echo "status $?" >>"$work/console-$side"
    done
    set -e
    describe "$work/run/out" >"$work/output-$side"
    # A single run's inventory (-l) lies beside its output.
    if [ -f "$work/run/out.csv" ]; then
      describe "$work/run/out.csv" >>"$work/output-$side"
    fi
  done
  verdict "$name"
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

# Run again into its OUTDIR: nothing to do.
times=2
compare "tree mbox twice" "$data/tree" @OUT@ -r -l -j1
times=1
# Refusals, and what cannot be converted.
mkdir -p "$data/no-bases/a/b"
compare "no base" "$data/none.tbb" @OUT@
setup='mkdir out && : >out/x'
compare "output folder not empty" "$data/tree" @OUT@ -r
setup="cp '$data/damaged.tbb' out"
compare "output is a base" "$data/plain.tbb" @OUT@
setup=:
compare "tree without bases" "$data/no-bases" @OUT@ -r
compare "tree that is no folder" "$data/plain.tbb" @OUT@ -r -e
compare "bad -j" "$data/tree" @OUT@ -r -j0
compare "garbage base" "$root/README.md" @OUT@
compare "garbage base -a" "$root/README.md" @OUT@ -a
compare "output inside ROOT" "$data/tree" "$data/tree/Inbox/out" -r

# An account on a throwaway Dovecot: each side uploads into folders of its
# own, named BOX-old and BOX-new, which the console is read without.
account() {  # name, then the arguments after the program (@BOX@: the URL)
  local name=$1
  shift
  local side box
  for side in old new; do
    local program=$old
    [ $side = new ] && program=$new
    box="Differential-$RANDOM-$side"
    rm -rf "$work/run"
    mkdir "$work/run"
    local args=("$@")
    args=("${args[@]//@BOX@/imaps://korvane@localhost:$imaps_port/$box}")
    : >"$work/console-$side"
    local n
    set +e
    for n in $(seq "$times"); do
      (cd "$work/run" && "$program" "${args[@]}" </dev/null |
        sed "s/$box/BOX/g" >>"$work/console-$side")
      echo "status ${PIPESTATUS[0]}" >>"$work/console-$side"
    done
    set -e
    python3 - "$server/home/korvane/Maildir" "$box" \
      >"$work/output-$side" <<'PY'
import hashlib, os, sys
top, box = sys.argv[1], sys.argv[2]
rows = []
for entry in sorted(os.listdir(top) if os.path.isdir(top) else []):
    if not entry.startswith("." + box):
        continue
    folder = "BOX" + entry[len(box) + 1:]
    for part in ("cur", "new"):
        where = os.path.join(top, entry, part)
        for name in os.listdir(where):
            path = os.path.join(where, name)
            with open(path, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            flags = name.split(":2,")[1] if ":2," in name else ""
            rows.append("%s %d %d %s %s" % (folder, os.stat(path).st_size,
                        int(os.stat(path).st_mtime), flags, digest))
print("\n".join(sorted(rows)))
PY
  done
  verdict "$name"
}

if [ "$(id -u)" = 0 ] && command -v dovecot >/dev/null; then
  server=$work/dovecot
  chmod 755 "$work"  # Dovecot stores the mail as nobody, below it
  sh "$root/src/5-output/imap/dovecot_test_server.sh" start "$server"
  # shellcheck disable=SC1091
  . "$server/server.env"
  export KORVANE_PASSWORD=test-password-1 KORVANE_CA_FILE=$ca_file
  account "account list" "$data/list.tbb" @BOX@
  account "account damaged -l" "$data/damaged.tbb" @BOX@ -l
  account "account tree -j2" "$data/tree" @BOX@ -r -j2
  times=2
  account "account rough twice" "$data/rough.tbb" @BOX@
  times=1
  unset KORVANE_PASSWORD
  account "account without password" "$data/rough.tbb" @BOX@
else
  echo "(no account compared: needs root and Dovecot)"
fi
echo "$failures differences"
[ "$failures" -eq 0 ]
