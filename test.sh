#!/usr/bin/env bash
# Sets up, builds and runs every test: ./test.sh
# Starts its own Xvfb, window manager, D-Bus session and sound server.
# Then builds the hostile-script tests alone with ASan and UBSan (build-asan)
# and runs them there (the `sanitized` label).
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSWIFTREEL_WERROR=ON >/dev/null
cmake --build build
bash scripts/with-desktop.sh ctest --test-dir build --output-on-failure -j2 "$@"
bash scripts/sanitized-tests.sh
