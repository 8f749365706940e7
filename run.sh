#!/usr/bin/env bash
# Sets up, builds a release build and starts the player: ./run.sh [MOVIE]
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DSWIFTREEL_TESTS=OFF -DSWIFTREEL_BENCH=OFF >/dev/null
cmake --build build-release --target swiftreel
exec ./build-release/startup/swiftreel "$@"
