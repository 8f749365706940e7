#!/usr/bin/env bash
# Builds only the tests labelled `sanitized` with ASan and UBSan, in
# build-asan, and runs them. -O1 keeps the build short and the run fast.
set -euo pipefail
cd "$(dirname "$0")/.."
# Qt keeps some memory to the end on purpose: leaks are not what this run looks for.
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DSWIFTREEL_SANITIZE=ON -DSWIFTREEL_BENCH=OFF >/dev/null
cmake --build build-asan --target hostile_tests
ctest --test-dir build-asan --output-on-failure -j2 -L sanitized
