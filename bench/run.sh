#!/usr/bin/env bash
# Times korvane against copying the same base with cat, on a base of
# ordinary messages and one of short mailing-list messages, with each block
# conversion (the one the processor picks, and those pinned at build time);
# times the Maildir output (-m, a file per message) against the mbox
# output, and on the list base the inventory (-l) and the .eml files (-e); checks that 4 times the base costs about 4 times the time, also on
# damaged bases built to be hard for the recovery scan. Prints tables;
# docs/performance.md explains them. Needs bash, coreutils, sed, awk and
# /usr/bin/time (Debian: time).
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/run.sh [--quick] [--size BYTES] [--list-size BYTES]
                    [--hard-size BYTES] [--runs N] [--paths LIST] [--no-hard]
                    [--micro] [--keep] [--build-dir DIR] [--out-dir DIR]

  --size BYTES       the base of ordinary messages (default 1073741824,
                     1 GiB); a base a quarter of it is timed too, for the
                     scaling
  --list-size BYTES  the base of mailing-list messages of 1 to 2 KB
                     (default 268435456)
  --hard-size BYTES  the smaller of each pair of damaged bases (default
                     268435456); the larger is 4 times it
  --runs N           timed runs of each command, alternating (default 5)
  --paths LIST       block conversions to time, comma-separated (default
                     auto,avx2,sse2): auto is the program as it ships, the
                     others builds pinned with -DKORVANE_BLOCK_CONVERSION
                     (skipped where the processor lacks them)
  --quick            a few MiB only: checks that the script works
  --no-hard          leave the damaged bases out
  --micro            also run the micro-benchmarks (Google Benchmark)
  --keep             keep the bases in DIR/bench-data afterwards
  --build-dir DIR    the Release build to use (default build-bench; the
                     pinned builds go beside it, DIR-avx2 and so on)
  --out-dir DIR      where outputs are written (default /dev/shm: memory,
                     so that no disk's write-back decides)
EOF
}

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
size=$((1 << 30))
list_size=$((256 << 20))
hard_size=$((256 << 20))
runs=5
paths=auto,avx2,sse2
hard=1
micro=0
micro_time=0.5
keep=0
out_dir=/dev/shm
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift ;;
    --list-size) list_size=$2; shift ;;
    --hard-size) hard_size=$2; shift ;;
    --runs) runs=$2; shift ;;
    --paths) paths=$2; shift ;;
    --quick) size=$((4 << 20)); list_size=$((2 << 20)); hard_size=$((1 << 20))
             micro_time=0.02 ;;
    --no-hard) hard=0 ;;
    --micro) micro=1 ;;
    --keep) keep=1 ;;
    --build-dir) build=$2; shift ;;
    --out-dir) out_dir=$2; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
[ "$runs" -ge 1 ] || { echo "--runs must be at least 1" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian: time)" >&2; exit 2; }

# --- builds -------------------------------------------------------------------

# The processor's name for a pinned conversion; auto and none need nothing.
cpu_flag() { case "$1" in avx512) echo avx512vbmi2 ;; avx2) echo avx2 ;;
  sse2) echo sse2 ;; *) echo "" ;; esac; }
declare -a path_list=()
for path in ${paths//,/ }; do
  case "$path" in auto|avx512|avx2|sse2|none) ;;
    *) echo "unknown path $path" >&2; exit 2 ;; esac
  flag=$(cpu_flag "$path")
  if [ -n "$flag" ] && [ -r /proc/cpuinfo ] &&
     ! grep -qw "$flag" /proc/cpuinfo; then
    echo "== $path: not on this processor, left out"
    continue
  fi
  path_list+=("$path")
done
[ ${#path_list[@]} -gt 0 ] || { echo "no path to time" >&2; exit 2; }

declare -A korvane
for path in "${path_list[@]}"; do
  dir=$build
  [ "$path" = auto ] || dir="$build-$path"
  echo "== build (Release, block conversion $path) in $dir"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release \
    -DKORVANE_BUILD_TESTS=OFF -DKORVANE_BLOCK_CONVERSION="$path" >/dev/null
  cmake --build "$dir" -j2 --target korvane >/dev/null
  korvane[$path]="$dir/src/7-front/console/korvane"
done
targets="--target korvane-mkbase"
[ "$micro" = 1 ] && targets="$targets --target korvane_microbench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DKORVANE_BUILD_TESTS=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j2 $targets >/dev/null
mkbase="$build/tools/mkbase/korvane-mkbase"
for path in "${path_list[@]}"; do
  [ -x "${korvane[$path]}" ] || { echo "build failed: $path" >&2; exit 1; }
done
[ -x "$mkbase" ] || { echo "build failed: korvane-mkbase" >&2; exit 1; }
K="'${korvane[${path_list[0]}]}'"  # the first path, for the other tables

# Bases in the build folder; outputs in a folder of their own on out_dir.
data="$build/bench-data"
out=$(mktemp -d "$out_dir/korvane-bench.XXXXXX")
rm -rf "$data"
mkdir -p "$data"
cleanup() { rm -rf "$out"; [ "$keep" = 1 ] || rm -rf "$data"; }
trap cleanup EXIT

# --- bases --------------------------------------------------------------------

# Ordinary messages: lines of 20 to 100 bytes, CR LF, a few "From " lines.
realistic() {  # name bytes [options]
  "$mkbase" --quiet --synthetic-bytes "$2" "${@:3}" "$data/$1.tbb"
}

# CR LF lines of text from awk; $2 is an awk expression for line i.
text_lines() {  # bytes expr
  awk -v n="$1" "BEGIN { b = 0; for (i = 0; b < n; ++i) {
      s = $2; printf \"%s\\r\\n\", s; b += length(s) + 2 } }"
}

# A base of count copies of one message file (hard links in a folder).
copies() {  # name message-file count
  local dir="$data/$1.d"
  mkdir -p "$dir"
  for ((i = 0; i < $3; ++i)); do ln "$2" "$(printf '%s/%07d.eml' "$dir" "$i")"; done
  "$mkbase" --quiet "$data/$1.tbb" "$dir"
  rm -rf "$dir"
}

# The damaged bases come in pairs, the second 4 times the first. Each is
# valid for the normal scan and hard for the recovery scan in its own way.
hard_bases() {  # size suffix
  local n=$1 s=$2 chunk=$((1 << 20)) m
  [ "$n" -lt "$chunk" ] && chunk=$n
  m=$((n / chunk))

  # No header-line candidate at all: the searches for R and D lines, and
  # for record magics in the messages, run to the end of the data.
  text_lines "$chunk" '"subject line " i " with nothing in it, no capitals at all, just words"' \
    >"$data/nocand.eml"
  copies "nocand$s" "$data/nocand.eml" "$m"

  # Millions of R and D bytes, and keywords that lack the zero bytes
  # before them: every one a candidate that fails.
  text_lines "$chunk" '(i % 2 ? "Return-Path: Received: Date: Delivered-To: RRDD" : "RDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRDRD")' \
    >"$data/rd.eml"
  copies "rd$s" "$data/rd.eml" "$m"

  # Long zero runs after a short text: the normal scan stops each message
  # at its first zero; the recovery scan passes them and trims them off.
  { printf 'Subject: zeros\r\n\r\nbody\r\n'; head -c $((chunk - 20)) /dev/zero; } \
    >"$data/zeros.eml"
  copies "zeros$s" "$data/zeros.eml" "$m"

  # A record magic every 12 bytes, its size field not trusted, each
  # followed by a blank line: a message start every few bytes.
  awk -v n="$chunk" 'BEGIN { for (b = 0; b < n; b += 12)
      printf "%c%c%c%cabcd\r\n\r\n", 33, 9, 112, 25 }' >"$data/magic.eml"
  copies "magic$s" "$data/magic.eml" "$m"

  # One huge message: headers, then plain lines, some "From ".
  { printf 'Return-Path: <big@example.org>\r\nSubject: huge\r\n\r\n'
    text_lines "$n" '(i % 50 ? "line " i " of one huge message, plain text and nothing else" : "From the archive, line " i)'
  } >"$data/huge.eml"
  "$mkbase" --quiet "$data/huge$s.tbb" "$data/huge.eml"
  rm -f "$data"/*.eml
}

echo "== bases in $data, outputs in $out"
realistic big "$size"
realistic small $((size / 4))
realistic list "$list_size" --list-mail
if [ "$hard" = 1 ]; then
  hard_bases "$hard_size" 1
  hard_bases $((hard_size * 4)) 4
fi
ls -l "$data"

# --- timing -------------------------------------------------------------------

# Median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END {
  if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Wall seconds, then CPU seconds (user and system, all its processes), of
# one run of a shell command, after removing the outputs and writing back
# what earlier runs left dirty, so that no run pays for another's
# writeback.
time_once() {
  rm -rf "$out"/*
  sync
  local TIMEFORMAT='%3R %3U %3S' t
  t=$( { time bash -c "$1" >/dev/null 2>&1; } 2>&1 )
  awk '{ printf "%s %.3f", $1, $2 + $3 }' <<<"$t"
}

# Peak resident set of one run, in KiB (GNU time's "Maximum resident set
# size"). The pages of a mapped base count in it as they are read.
peak_rss() {
  rm -rf "$out"/*
  /usr/bin/time -v bash -c "$1" 2>&1 >/dev/null |
    awk -F': ' '/Maximum resident set size/ { print $2 }'
}

# The largest resident set apart from the mapped base seen in one run, in
# KiB: the process's /proc/PID/smaps is read every few milliseconds, and
# of each reading the Rss of every mapping but the base's is added up
# (heap, stack, buffers, program and libraries). Only readings taken while
# the base is mapped count; empty when the run was too short for one.
apart_rss() {  # command base-path
  rm -rf "$out"/*
  bash -c "exec $1" >/dev/null 2>&1 &
  local pid=$! max="" v
  while [ -r "/proc/$pid/smaps" ]; do
    v=$(awk -v base="$2" '
          /^[0-9a-f]+-[0-9a-f]+ / { inbase = ($NF == base); if (inbase) seen = 1 }
          /^Rss:/ { if (!inbase) sum += $2 }
          END { if (seen) print sum + 0 }' "/proc/$pid/smaps" 2>/dev/null) || true
    if [ -n "$v" ] && { [ -z "$max" ] || [ "$v" -gt "$max" ]; }; then max=$v; fi
    sleep 0.002
  done
  wait "$pid" || true
  echo "$max"
}

declare -A seconds cpu rss apart
# Runs every command of a group in turn, runs times over, and keeps the
# medians. Arguments are label=command pairs; a command that runs korvane
# names its base right after the program.
time_group() {
  local pair label cmd r base t
  declare -A samples=() cpuSamples=()
  for ((r = 0; r < runs; ++r)); do
    for pair in "$@"; do
      label=${pair%%=*}
      cmd=${pair#*=}
      t=$(time_once "$cmd")
      samples[$label]+="${t% *} "
      cpuSamples[$label]+="${t#* } "
    done
  done
  for pair in "$@"; do
    label=${pair%%=*}
    cmd=${pair#*=}
    seconds[$label]=$(tr ' ' '\n' <<<"${samples[$label]}" | grep . | median)
    cpu[$label]=$(tr ' ' '\n' <<<"${cpuSamples[$label]}" | grep . | median)
    rss[$label]=$(peak_rss "$cmd")
    case "$cmd" in
      "'"*) base=${cmd#\'*\' }; apart[$label]=$(apart_rss "$cmd" "$data/${base%% *}") ;;
      *) apart[$label]="" ;;
    esac
  done
}

cd "$data"
# Warm the page cache: every figure is for a base that is already in it.
cat ./*.tbb >/dev/null

declare -A load messages
# The main tables: each base against cat, each path with both scans.
for base in big list; do
  group=("$base cat=cat $base.tbb > '$out/copy'")
  [ "$base" = big ] && group+=("$base cp=cp $base.tbb '$out/copy'")
  for path in "${path_list[@]}"; do
    group+=("$base $path normal='${korvane[$path]}' $base.tbb '$out/mbx'"
            "$base $path recovery='${korvane[$path]}' $base.tbb '$out/mbx' -a")
  done
  [ "$base" = big ] &&
    group+=("$base tr|sed=tr -d '\\r' < $base.tbb | sed 's/^From />From /' > '$out/txt'")
  messages[$base]=$("${korvane[${path_list[0]}]}" "$base.tbb" "$out/mbx" |
    grep -ao '[0-9]* messages' || true)
  load[$base]=$(cut -d' ' -f1-3 /proc/loadavg)
  echo "== timing the $base base: $runs alternating runs of each command"
  time_group "${group[@]}"
done
# A Maildir is a file per message, some hundred times slower to write than
# the mbox stream: a group of its own, 3 runs at most.
echo "== timing the Maildir output of the big base"
all_runs=$runs
runs=$((runs < 3 ? runs : 3))
time_group "big maildir=$K big.tbb '$out/maildir' -m"
# The other outputs of the list base beside its mbox: the inventory (-l),
# and the .eml files (-e) against the Maildir's, both a file per message.
echo "== timing the outputs of the list base"
time_group \
  "list mbox=$K list.tbb '$out/mbx'" \
  "list mbox -l=$K list.tbb '$out/mbx' -l" \
  "list maildir=$K list.tbb '$out/maildir' -m" \
  "list eml=$K list.tbb '$out/eml' -e" \
  "list eml -l=$K list.tbb '$out/eml' -e -l"
runs=$all_runs
echo "== timing the scaling: the base a quarter the size"
time_group \
  "small cat=cat small.tbb > '$out/copy'" \
  "small normal=$K small.tbb '$out/mbx'" \
  "small recovery=$K small.tbb '$out/mbx' -a"
if [ "$hard" = 1 ]; then
  for kind in nocand rd zeros magic huge; do
    echo "== timing the $kind bases"
    time_group \
      "$kind 1 normal=$K ${kind}1.tbb '$out/mbx'" \
      "$kind 4 normal=$K ${kind}4.tbb '$out/mbx'" \
      "$kind 1 recovery=$K ${kind}1.tbb '$out/mbx' -a" \
      "$kind 4 recovery=$K ${kind}4.tbb '$out/mbx' -a"
  done
fi

# --- report -------------------------------------------------------------------

mib() { [ -n "$1" ] && awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }' || echo "-"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

echo
echo "machine: $(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo);" \
  "bases on $(df -T "$data" | awk 'NR == 2 { print $2 }'), outputs on" \
  "$(df -T "$out" | awk 'NR == 2 { print $2 }')"
echo "medians of $runs alternating runs; x cat: ratio of the medians;" \
  "cpu: user + system seconds"
row() {  # label description cat-label
  printf '%-34s %9s %7s %7s %7s %9s %9s\n' "$2" "${seconds[$1]}" \
    "$(ratio "${seconds[$1]}" "${seconds[$3]}")" "${cpu[$1]}" \
    "$(ratio "${cpu[$1]}" "${cpu[$3]}")" "$(mib "${rss[$1]}")" \
    "$(mib "${apart[$1]}")"
}
for base in big list; do
  echo
  echo "$base base: $(stat -c %s "$base.tbb") bytes, ${messages[$base]};" \
    "load average before: ${load[$base]}"
  printf '%-34s %9s %7s %7s %7s %9s %9s\n' command "median s" "x cat" \
    "cpu s" "x cat" "peak MiB" "-base MiB"
  row "$base cat" "cat base > copy" "$base cat"
  [ "$base" = big ] && row "$base cp" "cp base copy" "$base cat"
  for path in "${path_list[@]}"; do
    row "$base $path normal" "korvane ($path), normal scan" "$base cat"
    row "$base $path recovery" "korvane ($path), -a" "$base cat"
  done
  [ "$base" = big ] &&
    row "$base maildir" "korvane (${path_list[0]}), -m (Maildir)*" "$base cat"
  [ "$base" = big ] && row "$base tr|sed" "tr -d '\\r' < base | sed ... > out" "$base cat"
done

echo "(*: a group of its own, median of at most 3 runs)"

echo
echo "outputs of the list base (a group of its own, median of at most 3 runs);" \
  "x: ratio to the first row named"
printf '%-34s %9s %7s %7s %7s\n' command "median s" "x" "cpu s" "x"
out_row() {  # label description base-label
  printf '%-34s %9s %7s %7s %7s\n' "$2" "${seconds[$1]}" \
    "$(ratio "${seconds[$1]}" "${seconds[$3]}")" "${cpu[$1]}" \
    "$(ratio "${cpu[$1]}" "${cpu[$3]}")"
}
out_row "list mbox" "mbox" "list mbox"
out_row "list mbox -l" "mbox with the inventory (-l)" "list mbox"
out_row "list maildir" "Maildir (-m)" "list maildir"
out_row "list eml" ".eml files (-e), x Maildir" "list maildir"
out_row "list eml -l" ".eml files with -l, x .eml files" "list eml"

echo
echo "scaling: 4 x the base, time ratio (target at most 4.4); korvane (${path_list[0]})"
printf '%-20s %8s %8s %7s %8s %8s %7s %9s\n' base "1x s" "4x s" ratio \
  "1x cpu" "4x cpu" ratio "-base MiB"
scale_row() {  # label-1x label-4x description
  printf '%-20s %8s %8s %7s %8s %8s %7s %9s\n' "$3" \
    "${seconds[$1]}" "${seconds[$2]}" "$(ratio "${seconds[$2]}" "${seconds[$1]}")" \
    "${cpu[$1]}" "${cpu[$2]}" "$(ratio "${cpu[$2]}" "${cpu[$1]}")" \
    "$(mib "${apart[$2]}")"
}
scale_row "small cat" "big cat" "realistic, cat"
scale_row "small normal" "big ${path_list[0]} normal" "realistic, normal"
scale_row "small recovery" "big ${path_list[0]} recovery" "realistic, -a"
if [ "$hard" = 1 ]; then
  for kind in nocand rd zeros magic huge; do
    scale_row "$kind 1 normal" "$kind 4 normal" "$kind, normal"
    scale_row "$kind 1 recovery" "$kind 4 recovery" "$kind, -a"
  done
fi

if [ "$micro" = 1 ]; then
  echo
  echo "== micro-benchmarks"
  "$build/bench/korvane_microbench" --benchmark_min_time="$micro_time"
fi
