#!/bin/sh
# The whole program on a large generated case file: cases per CPU second
# (user + system time of the process) with one worker and with one per core,
# the wall-clock speed-up, and the peak resident memory, also for a file of
# one very long line. Times are taken by GNU time (/usr/bin/time, Debian
# package `time`).
#
#   bench/whole_program.sh BUILD_DIR [LINES]      default: 1000000
#
# Needs tallow and tallow_large_input built in BUILD_DIR. Writes into a
# scratch directory that is removed at the end (about 430 MB for a million
# lines, input and output).
set -eu

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [LINES]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
lines=${2:-1000000}
tallow="$build/src/app/tallow"
generator="$build/bench/tallow_large_input"
for tool in "$tallow" "$generator"; do
  [ -x "$tool" ] || { echo "$0: $tool not built" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "$0: /usr/bin/time missing (Debian package time)" >&2; exit 2; }

seed=20261208
cores=$(nproc)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallow-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$tallow" tables synth --seed "$seed" "$scratch/tables" >/dev/null
"$generator" --seed "$seed" --lines "$lines" "$scratch/cases.in"

# run NAME JOBS INPUT: groups INPUT into a file, prints one row.
run() {
  /usr/bin/time -f '%U %S %e %M' -o "$scratch/time.txt" \
    "$tallow" group --quiet --jobs "$2" --tables "$scratch/tables" --in "$3" \
    --out "$scratch/$1.out" || [ $? -eq 10 ]
  read -r user sys wall rss < "$scratch/time.txt"
  awk -v name="$1" -v jobs="$2" -v n="$4" -v u="$user" -v s="$sys" -v w="$wall" -v r="$rss" \
    'BEGIN { cpu = u + s; if (cpu <= 0) cpu = 0.01; if (w <= 0) w = 0.01;
             printf "%-12s %4s %9s %8.2f %8.2f %8.2f %12.0f %12.0f %9.1f\n",
                    name, jobs, n, u, s, w, n / cpu, n / w, r / 1024 }'
  echo "$wall" > "$scratch/$1.wall"
}

echo "machine: $(nproc) cores, $(uname -m), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
printf '%-12s %4s %9s %8s %8s %8s %12s %12s %9s\n' run jobs lines user sys wall \
  cases/cpu-s cases/s "peak MiB"
run one-worker 1 "$scratch/cases.in" "$lines"
run all-cores "$cores" "$scratch/cases.in" "$lines"
cmp -s "$scratch/one-worker.out" "$scratch/all-cores.out" ||
  { echo "$0: the outputs of 1 and $cores workers differ" >&2; exit 1; }
awk -v a="$(cat "$scratch/one-worker.wall")" -v b="$(cat "$scratch/all-cores.wall")" -v c="$cores" \
  'BEGIN { if (b <= 0) b = 0.01; printf "wall-clock speed-up with %d workers: %.2fx (outputs identical)\n", c, a / b }'
rm -f "$scratch/one-worker.out" "$scratch/all-cores.out"

# One line of 50 MB: held in blocks, never whole.
head -c 214 "$scratch/cases.in" > "$scratch/long.in"
head -c 52428800 /dev/zero | tr '\0' 'x' >> "$scratch/long.in"
echo >> "$scratch/long.in"
run long-line "$cores" "$scratch/long.in" 1
