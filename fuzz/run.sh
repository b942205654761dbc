#!/bin/sh
# Runs every fuzz target of BUILD/fuzz from the generated seed corpus plus what earlier
# runs kept, each for a number of executions or of seconds, and prints and keeps in
# BUILD/fuzz-summary.txt the executions, time and rate per target. A finding (crash,
# leak, timeout or sanitizer report) is saved under BUILD/findings/<target>/ and fails
# the run.
# Usage: run.sh BUILD [SECONDS] [RUNS]
#   SECONDS  time per target (default 60 when RUNS is not given; empty for no limit)
#   RUNS     executions per target (split across the jobs)
# Environment: FUZZ_JOBS (parallel fuzzing processes per target, default 1),
#   FUZZ_TARGETS (names such as "json genome", default all), FUZZ_TIMEOUT (seconds one
#   input may take before it counts as a finding, default 25), FUZZ_NICE (niceness,
#   default 10: the fuzzers yield to interactive work on a shared machine).
set -e
build="$(cd "$1" && pwd)"
seconds="$2"
runs="$3"
[ -n "$seconds" ] || [ -n "$runs" ] || seconds=60
jobs="${FUZZ_JOBS:-1}"
timeout="${FUZZ_TIMEOUT:-25}"
niceness="${FUZZ_NICE:-10}"
here="$(cd "$(dirname "$0")" && pwd)"

sh "$here/make_corpus.sh" "$build/seeds"
[ -x "$build/fuzz/genome_seeds" ] && "$build/fuzz/genome_seeds" "$build/seeds"

wanted() { # target name
  [ -z "$FUZZ_TARGETS" ] && return 0
  for t in $FUZZ_TARGETS; do
    [ "fuzz_${t#fuzz_}" = "$1" ] && return 0
  done
  return 1
}

status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name="$(basename "$target")"
  wanted "$name" || continue
  corpus="$build/corpus/$name"
  findings="$build/findings/$name"
  mkdir -p "$corpus" "$findings" "$build/seeds/$name"
  rm -f "$findings"/fuzz-*.log "$build/findings/$name.log"
  regressions=""
  [ -d "$here/regressions/$name" ] && regressions="$here/regressions/$name"
  limits=""
  [ -n "$seconds" ] && limits="-max_total_time=$seconds"
  if [ -n "$runs" ]; then
    limits="$limits -runs=$(( (runs + jobs - 1) / jobs ))"
  fi
  parallel=""
  [ "$jobs" -gt 1 ] && parallel="-jobs=$jobs -workers=$jobs"
  start="$(date +%s)"
  # With -jobs every process writes its own fuzz-N.log into the working directory.
  if (cd "$findings" && exec nice -n "$niceness" "$target" $limits $parallel \
        -print_final_stats=1 -rss_limit_mb=4096 -timeout="$timeout" -report_slow_units="$timeout" \
        -artifact_prefix="$findings/" "$corpus" "$build/seeds/$name" $regressions \
        >"$build/findings/$name.log" 2>&1); then
    result=ok
  elif grep -q "libFuzzer: run interrupted" "$build/findings/$name.log" "$findings"/fuzz-*.log \
      2>/dev/null && [ -z "$(ls "$findings" | grep -v '^fuzz-.*\.log$')" ]; then
    result=stopped  # ended by a signal before its limit, with nothing found
  else
    result=FINDING
    status=1
  fi
  elapsed=$(( $(date +%s) - start ))
  [ "$elapsed" -gt 0 ] || elapsed=1
  # With -jobs the main log repeats each job's log as the job ends: count the job logs.
  done_runs="$(if [ "$jobs" -gt 1 ]; then cat "$findings"/fuzz-*.log
    else cat "$build/findings/$name.log"; fi 2>/dev/null |
    sed -n 's/^stat::number_of_executed_units: *//p' | awk '{ s += $1 } END { print s + 0 }')"
  line="$name: $done_runs executions in $elapsed s ($(( done_runs / elapsed ))/s, $jobs job(s)), $result"
  echo "$line"
  echo "$line" > "$build/findings/$name.summary"
done
# One line per target, the latest run of each (targets not run this time keep theirs).
cat "$build"/findings/fuzz_*.summary > "$build/fuzz-summary.txt" 2>/dev/null || true
exit $status
