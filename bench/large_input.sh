#!/bin/sh
# Groups generated case files of growing size with `tallow group` and reports
# the peak resident memory and the run time of each, measured by GNU time
# (/usr/bin/time, Debian package `time`). The peak must not grow with the
# file: the batch holds one line at a time.
#
#   bench/large_input.sh BUILD_DIR [LINES ...]     default: 100000 1000000
#
# Needs tallow and tallow_large_input built in BUILD_DIR (`make build`, or
# `cmake --build BUILD_DIR --target tallow tallow_large_input`). Writes into a
# scratch directory that is removed at the end (about 215 MB for a million
# lines, input and output).
set -eu

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [LINES ...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
shift
[ $# -gt 0 ] || set -- 100000 1000000
tallow="$build/src/app/tallow"
generator="$build/bench/tallow_large_input"
for tool in "$tallow" "$generator"; do
  [ -x "$tool" ] || { echo "$0: $tool not built" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "$0: /usr/bin/time missing (Debian package time)" >&2; exit 2; }

seed=20261208
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallow-large.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$tallow" tables synth --seed "$seed" "$scratch/tables" >/dev/null

printf '%10s  %12s  %9s  %s\n' lines "peak RSS kB" seconds "output lines"
for lines in "$@"; do
  "$generator" --seed "$seed" --lines "$lines" "$scratch/cases.in"
  /usr/bin/time -v -o "$scratch/time.txt" \
    "$tallow" group --tables "$scratch/tables" --in "$scratch/cases.in" --out "$scratch/cases.out"
  peak=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$scratch/time.txt")
  elapsed=$(sed -n 's/^[[:space:]]*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$scratch/time.txt")
  seconds=$(echo "$elapsed" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; printf "%.1f", s }')
  out=$(wc -l < "$scratch/cases.out")
  printf '%10s  %12s  %9s  %s\n' "$lines" "$peak" "$seconds" "$out"
  [ "$out" -eq "$lines" ] || { echo "$0: $out output lines for $lines input lines" >&2; exit 1; }
  rm -f "$scratch/cases.in" "$scratch/cases.out"
done
