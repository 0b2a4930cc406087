#!/usr/bin/env bash
# Builds Tellarium and runs a station in a data directory (default: ./station),
# creating the directory and giving it the default screens it lacks. The station
# keeps all its files there.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
data=${1:-station}

bash "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=Release \
  -DTELLARIUM_TESTS=OFF -DTELLARIUM_BENCH=OFF -DTELLARIUM_FUZZ=OFF >/dev/null
cmake --build "$top/build/release" -j"$(nproc)" --target tellarium
mkdir -p "$data"
# A new data directory gets the default screens; the SysOp's own stay.
for screen in "$top"/screens/*.qvs; do
  [ -e "$data/$(basename "$screen")" ] || cp "$screen" "$data/"
done
cd "$data"
exec "$top/build/release/bin/tellarium"
