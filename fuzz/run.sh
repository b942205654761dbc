#!/bin/sh
# Runs every fuzz target of BUILD/fuzz for SECONDS seconds each, starting from the
# generated seed corpus plus what earlier runs kept, and prints the executions per
# target. A finding is saved under BUILD/findings/<target>/ and fails the run.
# Usage: run.sh BUILD SECONDS
set -e
build="$1"
seconds="${2:-60}"
here="$(cd "$(dirname "$0")" && pwd)"
sh "$here/make_corpus.sh" "$build/seeds"
[ -x "$build/fuzz/genome_seeds" ] && "$build/fuzz/genome_seeds" "$build/seeds/fuzz_genome"
status=0
summary=""
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  mkdir -p "$build/corpus/$name" "$build/findings/$name"
  log="$build/findings/$name.log"
  regressions=""
  [ -d "$here/regressions/$name" ] && regressions="$here/regressions/$name"
  if "$target" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=4096 \
      -artifact_prefix="$build/findings/$name/" \
      "$build/corpus/$name" "$build/seeds/$name" $regressions >"$log" 2>&1; then
    result=ok
  else
    result=FINDING
    status=1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  line="$name: ${runs:-0} executions in ${seconds} s, $result"
  echo "$line"
  summary="$summary$line
"
done
printf '%s' "$summary" > "$build/fuzz-summary.txt"
exit $status
