#!/bin/sh
# run-fuzz.sh FUZZER SEED_CORPUS WORK_DIR SECONDS
# Copies the seed corpus into the build tree and runs the fuzzer over it for a
# bounded time; prints the executions run so the figure can be quoted.
set -e
fuzzer=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work" && mkdir -p "$work"
[ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
exec "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 "$work"
