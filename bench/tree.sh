#!/usr/bin/env bash
# Times the whole-tree mode against the README's find | xargs recipe on one
# tree of bases: a few MiB each down to a few KiB, three folder levels deep,
# the sizes spread over the tree at random. Both convert every base with two
# at once; hyperfine runs them alternately on a warm page cache. Prints
# hyperfine's table and the peak memory of each; docs/performance.md
# explains them. Needs hyperfine and /usr/bin/time (Debian: hyperfine,
# time).
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/tree.sh [--quick] [--bases N] [--largest BYTES] [--smallest BYTES]
                     [--runs N] [--keep] [--build-dir DIR]

  --bases N         bases in the tree (default 1000)
  --largest BYTES   the biggest base (default 3145728, 3 MiB)
  --smallest BYTES  the smallest base (default 3072, 3 KiB); the sizes
                    between fall off geometrically
  --runs N          timed runs of each command (default 5)
  --quick           50 bases of 3 KiB to 300 KiB, 2 runs: checks that the
                    script works
  --keep            keep the tree in DIR/tree-bench afterwards
  --build-dir DIR   the Release build to use (default build-bench)
EOF
}

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
bases=1000
largest=$((3 << 20))
smallest=$((3 << 10))
runs=5
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --bases) bases=$2; shift ;;
    --largest) largest=$2; shift ;;
    --smallest) smallest=$2; shift ;;
    --runs) runs=$2; shift ;;
    --quick) bases=50; largest=$((300 << 10)); runs=2 ;;
    --keep) keep=1 ;;
    --build-dir) build=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
command -v hyperfine >/dev/null || { echo "needs hyperfine" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian: time)" >&2; exit 2; }

echo "== build (Release) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DKORVANE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target korvane --target korvane-mkbase >/dev/null
korvane=$(find "$build" -type f -name korvane -perm -u+x | head -n 1)
mkbase=$(find "$build" -type f -name korvane-mkbase -perm -u+x | head -n 1)

# The tree lives in $data/home/Mail, so that the recipe's ~/Mail is it.
data="$build/tree-bench"
rm -rf "$data"
mkdir -p "$data/home/Mail" "$data/bin"
cleanup() { [ "$keep" = 1 ] || rm -rf "$data"; }
trap cleanup EXIT
ln -s "$korvane" "$data/bin/korvane"

echo "== $bases bases, $largest down to $smallest bytes"
# Base i of the size order lands in folder F/G/H of a shuffled place.
awk -v n="$bases" -v big="$largest" -v small="$smallest" 'BEGIN {
    srand(7)
    for (i = 0; i < n; ++i) place[i] = i
    for (i = n - 1; i > 0; --i) { j = int(rand() * (i + 1)); t = place[i];
                                  place[i] = place[j]; place[j] = t }
    for (i = 0; i < n; ++i) {
      size = n > 1 ? big * (small / big) ^ (i / (n - 1)) : big
      p = place[i]
      printf "F%02d/G%d/H%d %d %d\n", int(p / 100), int(p / 10) % 10, p % 10,
             size, i + 1
    }
  }' | while read -r folder size seed; do
    mkdir -p "$data/home/Mail/$folder"
    "$mkbase" --quiet --synthetic-bytes "$size" --seed "$seed" \
      "$data/home/Mail/$folder/messages.tbb"
  done
total=$(find "$data/home/Mail" -name messages.tbb -printf '%s\n' |
  awk '{ s += $1 } END { print s }')
echo "tree: $(find "$data/home/Mail" -name messages.tbb | wc -l) bases," \
  "$total bytes"

# The README's recipe as written, with two conversions at once.
awk '
  /^<!-- tree recipe/ { found = 1; next }
  found && /^    / { sub(/^    /, ""); print; started = 1; next }
  found && started { exit }
' "$root/README.md" | sed 's/-P 4/-P 2/' >"$data/recipe.sh"
grep -q -- '-P 2' "$data/recipe.sh" || { echo "no recipe in README" >&2; exit 1; }

tree_cmd="'$korvane' '$data/home/Mail' '$data/out' -r -j2 >/dev/null"
tree1_cmd="'$korvane' '$data/home/Mail' '$data/out' -r -j1 >/dev/null"
recipe_cmd="cd '$data/home' && HOME='$data/home' PATH='$data/bin:$PATH' sh '$data/recipe.sh'"
clean="rm -rf '$data/out'; find '$data/home/Mail' -name messages.mbx -delete"

echo "== hyperfine: $runs runs each, after a warm-up run"
hyperfine --style basic --warmup 1 --runs "$runs" --prepare "$clean" \
  --export-markdown "$data/table.md" \
  -n "korvane -r -j2" "$tree_cmd" \
  -n "find | xargs -P 2 (README)" "$recipe_cmd" \
  -n "korvane -r -j1" "$tree1_cmd"
echo
cat "$data/table.md"

# Peak resident set of the whole run, in MiB; for the recipe the largest of
# its processes. Mapped bases count as their pages are read.
peak() {
  bash -c "$clean"
  /usr/bin/time -v bash -c "$1" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident set size/ { printf "%.1f", $2 / 1024 }'
}
echo
echo "peak resident set (MiB): korvane -r -j2 $(peak "$tree_cmd")," \
  "recipe $(peak "$recipe_cmd"), korvane -r -j1 $(peak "$tree1_cmd")"
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
