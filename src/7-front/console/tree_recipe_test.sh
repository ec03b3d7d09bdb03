#!/bin/sh
# Runs the README's recipe for converting a whole tree of mail folders, as
# written there, on a small tree built with korvane-mkbase, and checks that
#  - every messages.tbb got the mailbox a single run of korvane gives it,
#    as messages.mbx beside it, also in folders whose names hold blanks,
#    quotes, "$" or a leading "-";
#  - a broken, an empty and a damaged base are named with korvane's
#    messages, and none of them stops the others;
#  - the recipe ends with status 123 when a base failed, and with 0 and
#    nothing on stderr when none did;
#  - it writes nothing else into the tree and converts no other .tbb file.
# Then -r on the same tree gives the same mailboxes in its own layout.
# The manual page carries the same recipe; it must not drift from this one.
#
# usage: tree_recipe_test.sh README PAGE KORVANE MKBASE
set -u
readme=$1
page=$2
korvane=$3
mkbase=$4

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

# The recipe: the indented block after the marker line in the README.
awk '
  /^<!-- tree recipe/ { found = 1; next }
  found && /^    / { sub(/^    /, ""); print; started = 1; next }
  found && started { exit }
' "$readme" >"$tmp/recipe.sh"
if ! grep -q '^find ~/Mail ' "$tmp/recipe.sh"; then
  echo "FAIL: no recipe beginning 'find ~/Mail' after the marker in $readme"
  cat "$tmp/recipe.sh"
  exit 1
fi
echo "recipe under test:"
sed 's/^/    /' "$tmp/recipe.sh"

# The manual page's copy, unescaped, is the same text.
awk '
  /^\.EX$/ { inside = 1; block = ""; next }
  /^\.EE$/ { if (block ~ /find ~\/Mail/) { printf "%s", block; exit }
             inside = 0; next }
  inside { block = block $0 "\n" }
' "$page" | sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\e/\\/g' \
  >"$tmp/page-recipe.sh"
if ! cmp -s "$tmp/recipe.sh" "$tmp/page-recipe.sh"; then
  fail "the manual page's recipe differs from the README's:"
  diff "$tmp/recipe.sh" "$tmp/page-recipe.sh"
fi

# The recipe calls korvane from PATH: put the built one there.
mkdir "$tmp/bin"
ln -s "$korvane" "$tmp/bin/korvane"

# base HOME FOLDER [MKBASE-OPTIONS...]: a base at HOME/Mail/FOLDER.
base() {
  folder="$1/Mail/$2"
  shift 2
  mkdir -p "$folder" &&
    "$mkbase" --quiet "$folder/messages.tbb" "$@" ||
    fail "korvane-mkbase could not build $folder/messages.tbb"
}

# run_recipe HOME: runs it as a user would, from HOME, with ~ being HOME.
run_recipe() {
  (cd "$1" && HOME="$1" PATH="$tmp/bin:$PATH" sh "$tmp/recipe.sh") \
    >"$1.out" 2>"$1.err"
}

# list HOME: every file of the tree, one per line, sorted.
list() {
  (cd "$1/Mail" && find . ! -type d | LC_ALL=C sort)
}

# Checksums of every base in a tree, to show that no run changed one.
base_sums() {
  (cd "$1/Mail" && find . -name '*.tbb' -type f -exec cksum {} + |
    LC_ALL=C sort)
}
expect_bases_unchanged() {
  base_sums "$1" | cmp -s "$1.sums" - ||
    fail "a base in $1 changed"
}

# expect_converted HOME FOLDER: FOLDER's messages.mbx is what korvane alone
# makes of its base.
n=0
expect_converted() {
  n=$((n + 1))
  folder="$1/Mail/$2"
  "$korvane" "$folder/messages.tbb" "$tmp/reference$n.mbx" >/dev/null 2>&1
  if [ ! -f "$folder/messages.mbx" ]; then
    fail "no messages.mbx beside $2/messages.tbb"
  elif [ ! -s "$tmp/reference$n.mbx" ]; then
    fail "test fault: korvane alone wrote nothing for $2"
  elif ! cmp -s "$folder/messages.mbx" "$tmp/reference$n.mbx"; then
    fail "$2/messages.mbx is not what korvane alone makes of the base"
  fi
}

# --- A tree with three bad bases among the sound ones. -----------------
home="$tmp/home"
odd_name="Nora's  \"old\" \$HOME mail"
base "$home" Inbox --synthetic 4
base "$home" "Sent Items" --synthetic 5 --lf
base "$home" Archive/2001/Q1 --synthetic 6 --start 980000000
base "$home" "$odd_name" --synthetic 7 --seed 7
base "$home" -dashed --synthetic 3 --seed 3
base "$home" Damaged --synthetic 5 --bad-magic 2
base "$home" Broken --synthetic 3 --bad-file-header
mkdir -p "$home/Mail/Empty" && : >"$home/Mail/Empty/messages.tbb"
"$mkbase" --quiet "$home/Mail/Inbox/other.tbb" --synthetic 2
list "$home" >"$tmp/before"
base_sums "$home" >"$home.sums"

run_recipe "$home"
status=$?
echo "recipe on the tree with bad bases: status $status; its stderr:"
sed 's/^/    /' "$home.err"

[ "$status" -eq 123 ] ||
  fail "recipe exited $status, not 123 (xargs: some base failed)"
for folder in Inbox "Sent Items" Archive/2001/Q1 "$odd_name" -dashed Damaged
do
  expect_converted "$home" "$folder"
done

grep -q "Broken/messages.tbb" "$home.err" &&
  grep -q "error: unsupported or corrupted message base" "$home.err" ||
  fail "the broken base is not reported with korvane's error"
grep -q "Empty/messages.tbb" "$home.err" &&
  grep -q "error: can't open .*Empty/messages.tbb for read" "$home.err" ||
  fail "the empty base is not reported with korvane's error"
grep -q "Damaged/messages.tbb" "$home.err" &&
  grep -q "warning: possible corrupted message base" "$home.err" ||
  fail "the damaged base is not reported with korvane's warning"
for folder in Inbox "Sent Items" Archive "$odd_name" -dashed; do
  if grep -qF -- "$folder/" "$home.err"; then
    fail "the sound base in $folder is reported as failing"
  fi
done

# New files: a mailbox beside each base korvane could open; nothing else.
list "$home" >"$tmp/after"
{
  cat "$tmp/before"
  grep '/messages\.tbb$' "$tmp/before" | grep -v '^\./Empty/' |
    sed 's/\.tbb$/.mbx/'
} | LC_ALL=C sort >"$tmp/expected"
if ! cmp -s "$tmp/expected" "$tmp/after"; then
  fail "the tree holds other files than expected (< expected, > found):"
  diff "$tmp/expected" "$tmp/after"
fi

expect_bases_unchanged "$home"

# The same tree with -r: every sound base gets the mailbox the recipe wrote
# beside it, in the tree layout; the damaged and the broken base are
# recovered, the empty one is an empty mailbox; the tree stays as it was.
list "$home" >"$tmp/before-r"
"$korvane" "$home/Mail" "$home/Mail-tree" -r -j2 >"$home.r.out"
status=$?
[ "$status" -eq 0 ] || fail "-r on the tree exited $status, not 0"
for pair in "Inbox:Inbox" "Sent Items:Sent Items" \
            "Archive/2001/Q1:Archive.sbd/2001.sbd/Q1" \
            "$odd_name:$odd_name" "-dashed:-dashed"; do
  cmp -s "$home/Mail/${pair%%:*}/messages.mbx" "$home/Mail-tree/${pair#*:}" ||
    fail "-r wrote another mailbox for ${pair%%:*} than the recipe"
done
[ -f "$home/Mail-tree/Empty" ] && [ ! -s "$home/Mail-tree/Empty" ] ||
  fail "-r gave the empty base no empty mailbox"
for folder in Damaged Broken; do
  grep -q "^$folder .* recovered: " "$home.r.out" ||
    fail "-r did not report $folder as recovered"
done
list "$home" | cmp -s "$tmp/before-r" - || fail "-r changed the tree"
expect_bases_unchanged "$home"

# --- A tree of sound bases only: success, silently. -------------------
clean="$tmp/clean"
base "$clean" Inbox --synthetic 2
base "$clean" "Sent Items" --synthetic 3
base "$clean" Lists/garden --synthetic 4
base_sums "$clean" >"$clean.sums"
run_recipe "$clean"
status=$?
[ "$status" -eq 0 ] || fail "recipe on a sound tree exited $status, not 0"
if [ -s "$clean.err" ]; then
  fail "recipe on a sound tree wrote to stderr:"
  cat "$clean.err"
fi
for folder in Inbox "Sent Items" Lists/garden; do
  expect_converted "$clean" "$folder"
done
expect_bases_unchanged "$clean"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "tree recipe: all checks passed"
