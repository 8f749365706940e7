#!/usr/bin/env bash
# Runs one fuzz target for a while under ASan + UBSan, one job, at low
# priority, with seeds from fuzz/make-seeds.sh; prints its statistics.
#   fuzz/run.sh fuzz_movie|fuzz_script SECONDS [BUILD_DIR] [WORK_DIR]
# Findings (crash-*, leak-*, timeout-*) land in WORK_DIR/TARGET/findings; a
# finding does not stop the run (one child process at a time).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
target=$1 seconds=$2
build=${3:-$here/../build-fuzz}
work=${4:-/tmp/swiftreel-fuzz}
mkdir -p "$work/$target/corpus" "$work/$target/findings" "$work/seeds" "$work/data"
[ -n "$(ls -A "$work/seeds")" ] || "$here/make-seeds.sh" "$work/seeds" >/dev/null
seeds=("$work/seeds")
# fuzz_script's inputs are choices, not movies: the movies become the bases
# its scripts run in, and it starts from its own corpus (empty at first).
[ "$target" = fuzz_script ] && seeds=()
export SWIFTREEL_FUZZ_BASES="$work/seeds"
export XDG_DATA_HOME="$work/data"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1:max_allocation_size_mb=1536:malloc_limit_mb=2048}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=suppressions=$here/lsan.supp
exec nice -n 10 "$build/fuzz/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -max_len=65536 \
  -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -print_final_stats=1 -artifact_prefix="$work/$target/findings/" "$work/$target/corpus" "${seeds[@]}"
