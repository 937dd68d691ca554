#!/bin/sh
# The batch as a filter, the way a Spark RDD.pipe or a Hadoop Streaming job
# runs it per partition: the input split into parts, each part through
# `tallow group --in - --out -`, the outputs joined in order, must equal one
# run over the whole input, for lines and for jsonl.
#
#   tests/pipe_split.sh TALLOW TABLES_DIR INPUT
set -eu
tallow=$1 tables=$2 input=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tallow-pipe.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

split -l 7 "$input" "$scratch/part."
for format in lines jsonl; do
  "$tallow" group --tables "$tables" --in - --out - --format "$format" --quiet \
    < "$input" > "$scratch/whole.$format"
  : > "$scratch/joined.$format"
  for part in "$scratch"/part.*; do
    "$tallow" group --tables "$tables" --in - --out - --format "$format" --quiet \
      < "$part" >> "$scratch/joined.$format"
  done
  [ -s "$scratch/whole.$format" ] || { echo "$0: no output for $format" >&2; exit 1; }
  if [ "$format" = lines ]; then
    cmp "$scratch/whole.$format" "$scratch/joined.$format"
  else
    # jsonl numbers lines within each part; everything else must agree.
    sed 's/^{"line":[0-9]*,//' "$scratch/whole.$format" > "$scratch/a"
    sed 's/^{"line":[0-9]*,//' "$scratch/joined.$format" > "$scratch/b"
    cmp "$scratch/a" "$scratch/b"
  fi
done
echo "split runs equal one run ($(ls "$scratch"/part.* | wc -l) parts)"
