#!/usr/bin/env bash
# Sets up, builds and runs every test (all labels). Exits non-zero on any failure.
# Extra arguments go to ctest (for example: ./test.sh -L unit -R Cp932).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps
BUILD=${VANT_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANT_TESTS=ON -DVANT_BENCH=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
cd "$BUILD"
ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@"
