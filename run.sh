#!/usr/bin/env bash
# Sets up, builds and starts the converter Orlune with the given arguments.
# ./run.sh viewer [args] starts the disc viewer Dessan instead.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup-deps
BUILD=${VANT_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANT_TESTS=OFF -DVANT_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
program=Orlune
if [ "${1:-}" = viewer ]; then
  program=Dessan
  shift
fi
exe="$BUILD/app/${program,,}/$program"
[ "$program" = Orlune ] && exe="$BUILD/app/converter/Orlune"
[ "$program" = Dessan ] && exe="$BUILD/app/viewer/Dessan"
if [ ! -x "$exe" ]; then
  echo "Built the libraries; the program $program is not part of this build yet." >&2
  exit 0
fi
exec "$exe" "$@"
