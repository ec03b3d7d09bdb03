#!/usr/bin/env bash
# Times korvane uploading a base of short mailing-list messages
# (korvane-mkbase --list-mail) into a folder of a local Dovecot over TLS,
# against two references, in alternating runs:
# - a Python imaplib loop that appends korvane's own mbox output, each
#   message with \Seen and its envelope date (the script a user writes);
# - doveadm import of korvane's own Maildir output: server-side, no
#   network, no TLS, so the practical ceiling.
# Each run goes into a new folder, whose count is checked. Prints
# messages/s and the processor time of client and server (Dovecot's
# processes, the imap process of the connection among them; for doveadm
# import the import itself, which does the server's work). The figures are
# printed, not judged; docs/performance.md explains them.
#
# Needs root (Dovecot's master process), dovecot-imapd, openssl, python3
# and /usr/bin/time. The server is the IMAP tests' throwaway one
# (src/5-output/imap/dovecot_test_server.sh), by default with its mail in memory
# (/dev/shm), so that no disk's write-back decides.
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/imap.sh [--messages N] [--runs N] [--quick] [--build-dir DIR]
                     [--data-dir DIR] [--batch N] [--one-per-append]

  --messages N     messages in the base (default 20000)
  --runs N         timed runs of each way, alternating (default 3)
  --quick          200 messages, one run: checks that the script works
  --build-dir DIR  the build with korvane and korvane-mkbase (default build)
  --data-dir DIR   where the base, the outputs and the server go (default a
                   new folder in /dev/shm)
  --batch N        also time korvane-imap-upload with N messages per
                   MULTIAPPEND (the build's test tools; for tuning)
  --one-per-append also time korvane-imap-upload with one message per APPEND
                   (LITERAL+, pipelined): a server without MULTIAPPEND
EOF
}

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
messages=20000
runs=3
data_parent=/dev/shm
batch=
one_per_append=
while [ $# -gt 0 ]; do
  case "$1" in
    --messages) messages=$2; shift ;;
    --runs) runs=$2; shift ;;
    --quick) messages=200; runs=1 ;;
    --build-dir) build=$2; shift ;;
    --data-dir) data_parent=$2; shift ;;
    --batch) batch=$2; shift ;;
    --one-per-append) one_per_append=1 ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
[ "$(id -u)" = 0 ] || { echo "needs root (Dovecot's master)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian: time)" >&2; exit 2; }

targets=(korvane korvane-mkbase)
[ -n "$batch$one_per_append" ] && targets+=(korvane-imap-upload)
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
korvane=$build/src/7-front/console/korvane
mkbase=$build/tools/mkbase/korvane-mkbase

data=$(mktemp -d "$data_parent/korvane-bench-imap.XXXXXX")
server=$data/server
stop() {
  sh "$root/src/5-output/imap/dovecot_test_server.sh" stop "$server" || true
  rm -rf "$data"
}
trap stop EXIT
# Dovecot stores as nobody, who must read the Maildir that is imported.
chmod 755 "$data"

"$mkbase" --quiet --synthetic "$messages" --list-mail "$data/list.tbb"
echo "base: $messages messages, $(stat -c %s "$data/list.tbb") bytes"
"$korvane" "$data/list.tbb" "$data/list.mbx" >/dev/null
"$korvane" "$data/list.tbb" "$data/list.maildir" -m >/dev/null
chown -R nobody:nogroup "$data/list.maildir"

sh "$root/src/5-output/imap/dovecot_test_server.sh" start "$server"
# shellcheck disable=SC1091  # written by the server's script
. "$server/server.env"
export KORVANE_PASSWORD=test-password-1 KORVANE_CA_FILE=$ca_file
url="imaps://korvane@127.0.0.1:$imaps_port"
tick=$(getconf CLK_TCK)

cat >"$data/loop.py" <<'PY'
# The loop a user writes: every message of an mbox file appended with
# \Seen and the date of its envelope line.
import calendar, imaplib, mailbox, os, ssl, sys, time
port, folder, cafile, path = sys.argv[1:]
imap = imaplib.IMAP4_SSL("127.0.0.1", int(port),
                         ssl_context=ssl.create_default_context(cafile=cafile))
imap.login("korvane", os.environ["KORVANE_PASSWORD"])
imap.create(folder)
for message in mailbox.mbox(path):
    envelope = message.get_from().split(None, 1)[1]
    seconds = calendar.timegm(time.strptime(envelope, "%a %b %d %H:%M:%S %Y"))
    imap.append(folder, r"(\Seen)", imaplib.Time2Internaldate(seconds),
                message.as_bytes())
imap.logout()
PY

# Processor ticks of Dovecot's processes: the master's own and those of its
# children it has reaped, and each live child's.
server_ticks() {
  local master total=0 pid
  master=$(cat "$server/run/master.pid")
  total=$(awk '{ print $14 + $15 + $16 + $17 }' "/proc/$master/stat")
  for pid in $(ps -o pid= --ppid "$master"); do
    [ -r "/proc/$pid/stat" ] || continue
    total=$((total + $(awk '{ print $14 + $15 + $16 + $17 }' \
      "/proc/$pid/stat" 2>/dev/null || echo 0)))
  done
  echo "$total"
}

count() {
  doveadm -c "$config" -f tab mailbox status -u korvane messages "$1" |
    sed -n 2p | cut -f2
}

# One timed run: NAME FOLDER COMMAND...; appends "name seconds client-cpu
# server-cpu" to the results, after checking that FOLDER holds every
# message.
results=$data/results
run() {
  local name=$1 folder=$2 before after
  shift 2
  before=$(server_ticks)
  /usr/bin/time -f "%e %U %S" -o "$data/time" "$@" >"$data/out" 2>&1 || {
    echo "$name failed:"; cat "$data/out"; exit 1; }
  # The connection's imap process ends after the client: let the master
  # reap it, so that its time counts.
  sleep 0.5
  after=$(server_ticks)
  local got
  got=$(count "$folder")
  if [ "$got" != "$messages" ]; then
    echo "$name: $folder holds ${got:-no} messages, not $messages"
    cat "$data/out"
    exit 1
  fi
  read -r wall user sys <"$data/time"
  awk -v n="$name" -v w="$wall" -v u="$user" -v s="$sys" -v b="$before" \
    -v a="$after" -v t="$tick" 'BEGIN { print n, w, u + s, (a - b) / t }' \
    >>"$results"
  printf '  %-22s %8.2f s\n' "$name" "$wall"
}

for i in $(seq 1 "$runs"); do
  echo "== round $i of $runs"
  run "korvane" "K$i" "$korvane" "$data/list.tbb" "$url/K$i"
  run "python imaplib loop" "P$i" python3 "$data/loop.py" "$imaps_port" \
    "P$i" "$ca_file" "$data/list.mbx"
  # doveadm runs as the user itself: it is the server's side.
  run "doveadm import" "D$i.INBOX" doveadm -c "$config" import -u korvane \
    "maildir:$data/list.maildir" "D$i" all
  if [ -n "$batch" ]; then
    run "upload, batch $batch" "B$i" "$build/tools/testing/korvane-imap-upload" \
      --count "$messages" --batch "$batch" "$url/B$i"
  fi
  if [ -n "$one_per_append" ]; then
    run "one per APPEND" "L$i" "$build/tools/testing/korvane-imap-upload" \
      --count "$messages" --no-multiappend "$url/L$i"
  fi
done

echo
echo "$messages messages, $runs runs each (median), $(nproc) cores," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$results" "$messages" <<'PY'
import collections, statistics, sys
rows = collections.OrderedDict()
for line in open(sys.argv[1]):
    *name, wall, client, server = line.split()
    rows.setdefault(" ".join(name), []).append(
        (float(wall), float(client), float(server)))
n = int(sys.argv[2])
print("| way | messages/s | client CPU | µs/message | server CPU | µs/message |")
print("|---|---:|---:|---:|---:|---:|")
rate = {}
for name, runs in rows.items():
    wall = statistics.median(r[0] for r in runs)
    client = statistics.median(r[1] for r in runs)
    server = statistics.median(r[2] for r in runs)
    rate[name] = n / wall
    # doveadm import has no client: its own time is the server's work.
    if name == "doveadm import":
        server, client = server + client, None
    print("| %s | %.0f | %s | %s | %.2f s | %.1f |" % (
        name, n / wall, "-" if client is None else "%.2f s" % client,
        "-" if client is None else "%.1f" % (client / n * 1e6), server,
        server / n * 1e6))
k = rate["korvane"]
print()
print("korvane: %.1f x the Python loop's rate (target 10), %.2f x doveadm "
      "import's (target 0.7)" % (k / rate["python imaplib loop"],
                                 k / rate["doveadm import"]))
if "one per APPEND" in rate:
    print("one per APPEND: %.2f x the Python loop's rate (target 1)" %
          (rate["one per APPEND"] / rate["python imaplib loop"]))
PY
