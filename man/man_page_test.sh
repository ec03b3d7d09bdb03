#!/bin/sh
# Checks the manual page as a reader gets it: it renders without a single
# formatter warning, its NAME line is what whatis/apropos index, it fits an
# 80-column terminal, it documents every switch of the program's usage text,
# and its title line carries the version being built.
#
# usage: man_page_test.sh PAGE KORVANE VERSION
# Exit status 77 (skipped) when neither man nor groff is installed.
set -u
page=$1
korvane=$2
version=$3

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

have() { command -v "$1" >/dev/null 2>&1; }

if ! have man && ! have groff; then
  echo "SKIP: neither man nor groff is installed (Debian: man-db, groff-base)"
  exit 77
fi

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

# The page is ASCII: without a preprocessor, other bytes come out garbled.
if LC_ALL=C grep -n '[^ -~	]' "$page" >"$tmp/nonascii"; then
  fail "bytes outside printable ASCII in the page:"
  cat "$tmp/nonascii"
fi

# Rendered with every warning on; anything on stderr is a fault.
if have groff; then
  LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>"$tmp/groff.err"
  status=$?
  if [ "$status" -ne 0 ] || [ -s "$tmp/groff.err" ]; then
    fail "groff -man -Tutf8 -ww (status $status) warned:"
    cat "$tmp/groff.err"
  fi
fi

rendered=""
if have man; then
  for width in 80 65; do
    LC_ALL=C.UTF-8 MANWIDTH=$width man --warnings -l "$page" \
      >"$tmp/man$width.txt" 2>"$tmp/man$width.err"
    status=$?
    if [ "$status" -ne 0 ] || [ -s "$tmp/man$width.err" ]; then
      fail "man --warnings -l at width $width (status $status) warned:"
      cat "$tmp/man$width.err"
    fi
  done
  # The plain-ASCII rendering, for the checks on its text below.
  LC_ALL=C MANWIDTH=80 man -l "$page" >"$tmp/page.txt" 2>/dev/null
  rendered="$tmp/page.txt"
else
  LC_ALL=C groff -man -Tascii -P-cbou "$page" >"$tmp/page.txt" 2>/dev/null
  rendered="$tmp/page.txt"
fi

# Nothing, not even an example, runs past an 80-column terminal.
awk 'length > 80 { printf "line %d is %d columns: %s\n", NR, length, $0 }' \
  "$rendered" >"$tmp/wide"
if [ -s "$tmp/wide" ]; then
  fail "rendered lines wider than 80 columns:"
  cat "$tmp/wide"
fi

# whatis and apropos index the NAME line as "name - description".
if have lexgrog; then
  if ! lexgrog "$page" >"$tmp/lexgrog" 2>&1 ||
     ! grep -q '"korvane - .' "$tmp/lexgrog"; then
    fail "lexgrog cannot read the NAME section:"
    cat "$tmp/lexgrog"
  fi
fi

# The title line names the version being built.
if ! grep -q "^\.TH KORVANE 1 [0-9-]* \"korvane $version\"" "$page"; then
  fail "the .TH line does not name korvane $version:"
  grep '^\.TH' "$page"
fi

# Every switch the program's usage text lists is described under OPTIONS.
"$korvane" >"$tmp/usage.txt" 2>&1
switches=$(sed -n 's/^  \(-[A-Za-z][^ ]*\)$/\1/p' "$tmp/usage.txt")
if [ -z "$switches" ]; then
  fail "found no switch in the usage text of $korvane:"
  cat "$tmp/usage.txt"
fi
sed -n '/^OPTIONS$/,/^[A-Z]/p' "$rendered" >"$tmp/options.txt"
for switch in $switches; do
  if ! grep -qF -- "$switch" "$tmp/options.txt"; then
    fail "the usage text lists $switch, OPTIONS does not describe it"
  fi
done

for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES NOTES \
               BUGS EXAMPLES; do
  grep -qx "$section" "$rendered" || fail "no $section section"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "manual page: all checks passed"
