#!/bin/sh
# Installs the build into a temporary prefix, builds the consumer program with
# find_package(Tallow) and pkg-config against it, and checks that its records
# equal `tallow group --format jsonl` on the demo.
#
#   tests/install/consumer_test.sh BUILD_DIR SOURCE_DIR CMAKE CXX
set -eu
build=$1 source=$2 cmake=$3 cxx=$4
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallow-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

"$cmake" --install "$build" --prefix "$prefix" > "$scratch/install.log"
for f in bin/tallow include/tallow/tallow.h share/man/man1/tallow.1; do
  [ -e "$prefix/$f" ] || { echo "$0: $f not installed" >&2; exit 1; }
done
"$prefix/bin/tallow" --version | grep -q "^tallow [0-9]"
# The archives hold machine code only, whatever compiler links them later
# (a link-time build compiles them with GCC's intermediate code as well).
for archive in "$prefix"/lib*/libtallow_*.a "$prefix"/lib/*/libtallow_*.a; do
  [ -e "$archive" ] || continue
  if objdump -h "$archive" | grep -q '\.gnu\.lto_'; then
    echo "$0: $archive holds link-time sections" >&2
    exit 1
  fi
done

"$cmake" -S "$source/tests/install/consumer" -B "$scratch/consumer" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  > "$scratch/configure.log" || { cat "$scratch/configure.log" >&2; exit 1; }
"$cmake" --build "$scratch/consumer" > "$scratch/build.log" ||
  { cat "$scratch/build.log" >&2; exit 1; }

tables=$build/data/demo/tables
input=$source/data/demo/tallow.in
"$scratch/consumer/consumer" "$tables" "$input" > "$scratch/consumer.jsonl"
status=0
"$prefix/bin/tallow" group --tables "$tables" --in "$input" --out - --format jsonl --quiet \
  > "$scratch/program.jsonl" || status=$?
[ $status -eq 0 ] || [ $status -eq 10 ] || { echo "$0: tallow exited $status" >&2; exit 1; }
cmp "$scratch/consumer.jsonl" "$scratch/program.jsonl"

# The same program through pkg-config.
pc=$(ls "$prefix"/lib*/pkgconfig/tallow.pc "$prefix"/lib/*/pkgconfig/tallow.pc 2>/dev/null | head -n 1)
PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --exists tallow
# shellcheck disable=SC2046
"$cxx" -O1 -o "$scratch/consumer_pc" "$source/tests/install/consumer/main.cc" \
  $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs tallow) -pthread
"$scratch/consumer_pc" "$tables" "$input" | cmp - "$scratch/program.jsonl"
echo "consumer records equal tallow group on the demo"
