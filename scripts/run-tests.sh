#!/usr/bin/env bash
# Builds Tellarium with its tests and runs every test.
#   --sanitize   build and run with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

build="$top/build/tests"
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELLARIUM_TRYOUT=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build="$top/build/sanitize"
  options=(-DCMAKE_BUILD_TYPE=Debug -DTELLARIUM_SANITIZE=ON -DTELLARIUM_BENCH=OFF -DTELLARIUM_TRYOUT=OFF)
fi

bash "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure --timeout 600 -j"$(nproc)"
