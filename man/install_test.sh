#!/bin/sh
# Installs the build into a temporary prefix as a user would, with
# "cmake --install", and checks what lands there: the program and its
# manual page and nothing else (no builder, no test binaries), the page as
# written, and an installed program that converts a base on its own and
# whose page man finds by name.
#
# usage: install_test.sh CMAKE BUILD_DIR CONFIG BINDIR MANDIR MKBASE PAGE
set -u
cmake=$1
build=$2
config=$3
bindir=$4
mandir=$5
mkbase=$6
page=$7

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
prefix="$tmp/prefix with space"

if ! "$cmake" --install "$build" --prefix "$prefix" --config "$config" \
     >"$tmp/install.log" 2>&1; then
  cat "$tmp/install.log"
  echo "FAIL: cmake --install failed"
  exit 1
fi

# Exactly these two files, nothing more.
(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) \
  >"$tmp/installed"
printf '%s\n' "$bindir/korvane" "$mandir/man1/korvane.1" | LC_ALL=C sort \
  >"$tmp/expected"
if ! cmp -s "$tmp/installed" "$tmp/expected"; then
  fail "installed files differ from the program and its page:"
  diff "$tmp/expected" "$tmp/installed"
fi

program="$prefix/$bindir/korvane"
[ -x "$program" ] || fail "$program is not executable"
cmp -s "$page" "$prefix/$mandir/man1/korvane.1" ||
  fail "the installed page is not the page as written"

# The installed program converts a base, in a folder of its own.
work="$tmp/work"
mkdir "$work"
if ! "$mkbase" --quiet --synthetic 12 "$work/messages.tbb"; then
  fail "korvane-mkbase could not build a sample base"
fi
cp "$work/messages.tbb" "$tmp/base-before"
(cd "$work" && "$program" '*') >"$tmp/run.out" 2>&1
status=$?
cmp -s "$work/messages.tbb" "$tmp/base-before" ||
  fail "installed korvane changed the base"
[ "$status" -eq 0 ] || fail "installed korvane '*' exited $status"
grep -q 'found 12 messages' "$tmp/run.out" ||
  fail "installed korvane did not report 12 messages"
if [ -s "$work/messages.mbx" ]; then
  head -c 5 "$work/messages.mbx" | grep -q '^From ' ||
    fail "messages.mbx does not begin with an envelope line"
else
  fail "installed korvane wrote no messages.mbx"
fi
if [ "$failures" -ne 0 ]; then cat "$tmp/run.out"; fi

# man finds the installed page by name under the prefix.
if command -v man >/dev/null 2>&1; then
  MANPATH="$prefix/$mandir" LC_ALL=C MANWIDTH=80 man korvane \
    >"$tmp/man.txt" 2>"$tmp/man.err"
  status=$?
  if [ "$status" -ne 0 ] || ! grep -q '^NAME' "$tmp/man.txt"; then
    fail "man korvane with MANPATH=$prefix/$mandir failed (status $status):"
    cat "$tmp/man.err"
  fi
else
  echo "note: man is not installed; the installed page was not looked up"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "install: all checks passed"
