#!/usr/bin/env bash
# Installs what building and testing Tellarium needs (the telnet clients the
# tryout drives among it; Boost, the terminal and its bundler for the browser
# gateway, and the browser its test drives), from Debian's packages, when any of it is missing.
set -euo pipefail

packages=(g++ make cmake libgtest-dev libgmock-dev libbenchmark-dev faketime expect telnet
  busybox putty-tools netcat-openbsd socat python3 libboost-dev node-xterm esbuild
  chromium python3-websockets)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
