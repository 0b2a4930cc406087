#!/usr/bin/env bash
# Builds Tellarium and runs a station in a data directory (default: ./station).
# A new data directory is made with tellarium-admin init; one that lacks files
# or screens gets them, and the SysOp's own stay. Run by a user other than root,
# a new station listens on ports 2323 (main) and 2420 (line #0), since ports
# below 1024 need root.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
data=${1:-station}
bin="$top/build/release/bin"

bash "$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=Release \
  -DTELLARIUM_TESTS=OFF -DTELLARIUM_BENCH=OFF -DTELLARIUM_FUZZ=OFF >/dev/null
cmake --build "$top/build/release" -j"$(nproc)" --target tellarium tellarium-admin

ports=()
if [ "$(id -u)" != 0 ] && [ ! -e "$data/config.qvs" ]; then
  ports=(--main-port 2323 --line0-port 2420)
fi
"$bin/tellarium-admin" "$data" init "${ports[@]}"
if [ "$(id -u)" != 0 ]; then
  for port in mainPort line0Port; do
    number=$("$bin/tellarium-admin" "$data" config | sed -n "s/^$port=//p")
    if [ "$number" -lt 1024 ]; then
      echo "$port is $number, which needs root; change it with: $bin/tellarium-admin $data config set $port N" >&2
    fi
  done
fi
cd "$data"
exec "$bin/tellarium"
