#!/usr/bin/env bash
# Installs ngircd, the reference server of server_relay_bench, from Debian's
# packages when it is missing. The benchmark starts its own instances; where
# the machine lets packages start services, Debian also starts its system-wide
# one (port 6667), which the benchmark does not use.
set -euo pipefail

dpkg-query -W -f='${Status}' ngircd 2>/dev/null | grep -q 'install ok installed' && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends ngircd
