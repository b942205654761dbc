#!/bin/sh
# Runs every benchmark program of a benchmark build; each prints Google Benchmark's table
# and, for comparisons, lines "ratio <name> <peer> <x>" (x = peer time / library time).
build="${1:-build-bench}"
status=0
for prog in "$build"/bench/bench_*; do
  [ -x "$prog" ] || continue
  echo "== $(basename "$prog")"
  "$prog" --benchmark_min_time=0.2 || status=1
done
exit $status
