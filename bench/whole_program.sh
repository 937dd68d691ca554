#!/bin/sh
# The whole program on a large generated case file: cases per CPU second
# (user + system time of the process) with one worker and with one per core,
# the wall-clock speed-up, and the peak resident memory, also for a file of
# one very long line. Times are taken by GNU time (/usr/bin/time, Debian
# package `time`).
#
#   bench/whole_program.sh BUILD_DIR [LINES]      default: 1000000
#
# ROUNDS (default 3) rounds are run, one worker and one per core in turn, and
# every run is printed. On a shared machine a neighbour's load only ever adds
# time, so the summary takes the least: the CPU time of the fastest one-worker
# run and the wall clock of the fastest run of each kind.
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
rounds=${ROUNDS:-3}
case $rounds in
  '' | *[!0-9]* | 0) echo "$0: ROUNDS must be a whole number above 0" >&2; exit 2 ;;
esac
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
  echo "$user $sys $wall" | awk '{ print $1, $2, $3, $1 + $2 }' >> "$scratch/$1.times"
}

# least FILE COLUMN: the least value of a column of a times file (user, system,
# wall, CPU).
least() {
  awk -v c="$2" 'NR == 1 || $c < m { m = $c } END { print m }' "$1"
}

echo "machine: $(nproc) cores, $(uname -m), $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
printf '%-12s %4s %9s %8s %8s %8s %12s %12s %9s\n' run jobs lines user sys wall \
  cases/cpu-s cases/s "peak MiB"
round=1
while [ "$round" -le "$rounds" ]; do
  run one-worker 1 "$scratch/cases.in" "$lines"
  run all-cores "$cores" "$scratch/cases.in" "$lines"
  cmp -s "$scratch/one-worker.out" "$scratch/all-cores.out" ||
    { echo "$0: the outputs of 1 and $cores workers differ" >&2; exit 1; }
  rm -f "$scratch/one-worker.out" "$scratch/all-cores.out"
  round=$((round + 1))
done
awk -v n="$lines" -v r="$rounds" -v c="$cores" \
  -v cpu="$(least "$scratch/one-worker.times" 4)" \
  -v a="$(least "$scratch/one-worker.times" 3)" -v b="$(least "$scratch/all-cores.times" 3)" \
  'BEGIN { if (cpu <= 0) cpu = 0.01; if (b <= 0) b = 0.01;
           printf "best of %d rounds: %.0f cases per CPU second with one worker\n", r, n / cpu;
           printf "wall-clock speed-up with %d workers: %.2fx (outputs identical)\n", c, a / b }'

# One line of 50 MB: held in blocks, never whole.
head -c 214 "$scratch/cases.in" > "$scratch/long.in"
head -c 52428800 /dev/zero | tr '\0' 'x' >> "$scratch/long.in"
echo >> "$scratch/long.in"
run long-line "$cores" "$scratch/long.in" 1
