#!/bin/sh
# run-all.sh BUILD_DIR SECONDS [JOBS]
# Runs every fuzz target of a fuzz build (BUILD_DIR/fuzz/targets.txt) for
# SECONDS each under its sanitizers, JOBS at a time (default 1). Each target
# keeps its corpus in BUILD_DIR/fuzz-work/NAME (seeded from the checked-in
# corpus, grown run after run) and writes what it finds to
# BUILD_DIR/fuzz-work/NAME/crashes/. Prints one line per target (executions,
# executions a second, edges covered, corpus size, crashes) and writes the
# table to BUILD_DIR/fuzz-report.txt. Exits 1 when any target found a crash.
set -eu
build=$1 seconds=$2 jobs=${3:-1}
list="$build/fuzz/targets.txt"
[ -s "$list" ] || { echo "no fuzz targets in $list (build with QUOR_FUZZ=ON)" >&2; exit 2; }
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "$0")/.." && pwd)/tests/lsan.supp}"

run_one() {  # name program seeds
  name=$1 program=$2 seeds=$3
  work="$build/fuzz-work/$name"
  mkdir -p "$work/corpus" "$work/crashes"
  [ -d "$seeds" ] && cp -rn "$seeds"/. "$work/corpus"/ 2>/dev/null || true
  "$program" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/crashes/" "$work/corpus" >"$work/last-run.log" 2>&1 || true
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/last-run.log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/last-run.log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$work/last-run.log" | tail -1 | cut -d' ' -f2)
  corpus=$(find "$work/corpus" -type f | wc -l)
  crashes=$(find "$work/crashes" -type f | wc -l)
  printf '%-22s %8ss %12s execs %8s/s %7s edges %7s inputs %3s crashes\n' "$name" "$seconds" \
    "${execs:-?}" "${rate:-?}" "${cov:-?}" "$corpus" "$crashes" >"$work/summary"
  cat "$work/summary"
}

running=0
while read -r name program seeds; do
  [ -n "$name" ] || continue
  run_one "$name" "$program" "$seeds" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait
    running=0
  fi
done <"$list"
wait

report="$build/fuzz-report.txt"
: >"$report"
found=0
while read -r name program seeds; do
  [ -n "$name" ] || continue
  cat "$build/fuzz-work/$name/summary" >>"$report"
  if [ -n "$(find "$build/fuzz-work/$name/crashes" -type f)" ]; then
    found=1
    echo "crash inputs of $name in $build/fuzz-work/$name/crashes/" >&2
  fi
done <"$list"
echo "report: $report"
exit $found
