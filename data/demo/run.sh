#!/bin/sh
# Groups the demo cases with the demo tables built in BUILD_DIR and prints
# the output lines and a summary.
#
#   data/demo/run.sh BUILD_DIR                  group and show
#   data/demo/run.sh BUILD_DIR --check GOLDEN   group and compare with GOLDEN
set -eu

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [--check GOLDEN]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
demo=$(cd "$(dirname "$0")" && pwd)
tallow="$build/src/app/tallow"
tables="$build/data/demo/tables"
[ -x "$tallow" ] || { echo "$0: $tallow not built" >&2; exit 2; }
[ -f "$tables/DXTAB8" ] || { echo "$0: demo tables not built in $tables" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallow-demo.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cp "$tables"/* "$scratch"/
cp "$demo/tallow.in" "$scratch"/

# The classic batch: tallow.in and the tables in the current directory.
status=0
(cd "$scratch" && "$tallow") || status=$?

if [ $# -ge 3 ] && [ "$2" = "--check" ]; then
  if [ $status -ne 0 ]; then
    echo "$0: tallow exited with status $status" >&2
    exit 1
  fi
  if ! cmp -s "$scratch/tallow.out" "$3"; then
    echo "$0: the demo output differs from $3:" >&2
    diff "$3" "$scratch/tallow.out" >&2 || true
    exit 1
  fi
  echo "demo output matches $3"
  exit 0
fi

echo "== tallow.out (group results at columns 189-214) =="
cat "$scratch/tallow.out"
echo
echo "== summary =="
out="$scratch/tallow.out"
echo "$(wc -l < "$out") cases grouped, exit status of tallow: $status"
echo "cases per MDC:"
cut -c189-190 "$out" | sort | uniq -c | awk '{ printf "  MDC %s: %d\n", $2, $1 }'
echo "group codes (xN: N cases):"
cut -c191-196 "$out" | sort | uniq -c |
  awk '{ printf " %s%s", $2, ($1 > 1 ? "x" $1 : "") } END { printf "\n" }' | fold -s -w 78
echo "cases with group code 000000 (no accepted code): $(cut -c191-196 "$out" | grep -c '^000000$' || true)"
exit $status
