#!/usr/bin/env bash
# Builds Tellarium and runs a station in a data directory (default: ./station).
# tellarium-admin init makes a new data directory and gives one that lacks
# files or screens what it lacks, leaving the SysOp's own; a new station made by
# a user who may not open ports below 1024 listens on 2323 and line #0 on 2420.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
data=${1:-station}
bin="$top/build/release/bin"

bash "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=Release \
  -DTELLARIUM_TESTS=OFF -DTELLARIUM_BENCH=OFF -DTELLARIUM_FUZZ=OFF >/dev/null
cmake --build "$top/build/release" -j"$(nproc)" --target tellarium tellarium-admin

"$bin/tellarium-admin" "$data" init
port=$("$bin/tellarium-admin" "$data" config | sed -n 's/^mainPort=//p')
echo "Call the station with: telnet localhost $port"
cd "$data"
exec "$bin/tellarium"
