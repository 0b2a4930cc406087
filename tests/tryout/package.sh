#!/usr/bin/env bash
# A staged install whose unit systemd accepts without a word (its security score
# printed), a station run from it as the unit starts it (an unprivileged user
# with only the capability to bind low ports), and the Debian package. Needs root.
set -euo pipefail
build=$1
[ "$(id -u)" = 0 ] && command -v systemd-analyze >/dev/null && command -v setpriv >/dev/null || exit 77

work=$(mktemp -d /tmp/tellarium-package-XXXXXX)
chmod 755 "$work"  # the station user reads the staged tree
station=
trap '[ -z "$station" ] || kill "$station" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }

stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
units=$stage/lib/systemd/system
for target in network multi-user basic sysinit; do cp "/lib/systemd/system/$target.target" "$units/"; done
said=$(systemd-analyze verify --man=no --root="$stage" "$units/tellarium.service" 2>&1) || true
[ -z "$said" ] || fail "systemd-analyze verify: $said"
systemd-analyze security --offline=true --root="$stage" "$units/tellarium.service" | grep "Overall exposure"

# Two free ports below 1024, so that only the capability opens them.
mapfile -t ports < <(comm -23 <(seq 900 999) <(ss -ltnH | awk '{sub(/.*:/, "", $4); print $4}' | sort -u) | head -2)
data=$work/data
mkdir "$data"
chown nobody:nogroup "$data"
as_unit=(setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=+net_bind_service
  --ambient-caps=+net_bind_service)
"${as_unit[@]}" "$stage/usr/bin/tellarium-admin" "$data" init --main-port "${ports[0]}" --line0-port "${ports[1]}" \
  >/dev/null
(cd "$data" && exec "${as_unit[@]}" "$stage/usr/bin/tellarium" >/dev/null 2>&1) &
station=$!
greeting=
for _ in $(seq 100); do
  greeting=$(sleep 0.3 | nc -q0 127.0.0.1 "${ports[0]}" 2>/dev/null | tr -d '\r\0') || true
  [ -n "$greeting" ] && break
  sleep 0.1
done
grep -q "Press <ENTER> To Login." <<<"$greeting" || fail "the staged station did not greet a caller"
[ "$(stat -c %U "$data/config.qvs")" = nobody ] || fail "the data files are not the station user's"

(cd "$build" && cpack -B "$work/package" >"$work/cpack.log" 2>&1) || fail "cpack: $(cat "$work/cpack.log")"
contents=$(dpkg-deb -c "$work"/package/tellarium_*.deb | awk '{print $6}')
for file in ./usr/bin/tellarium ./usr/bin/tellarium-admin './usr/lib/.*libkorvatel.so' './usr/lib/.*libplatform.so' \
  ./lib/systemd/system/tellarium.service ./usr/share/tellarium/screens/mainmenu.qvs; do
  grep -qx "$file" <<<"$contents" || fail "the package lacks $file"
done
dpkg-deb -f "$work"/package/tellarium_*.deb Depends | grep -q libstdc++ || fail "the package names no dependencies"
