#!/usr/bin/env bash
# README's run command as a user who is not root: root clones the tree into the
# user's home and hands it over, the user runs the command (its dependencies
# are installed already, since the user has no sudo), and a telnet client
# reaches the station at the address the command printed. Usage: any_user.sh
# TOP. Needs root.
set -euo pipefail
top=$1
user=tellarium-tryout
[ "$(id -u)" = 0 ] && command -v useradd >/dev/null || exit 77
# The address a new station of a user without privileges listens on.
ss -ltnH "sport = :2323" | grep -q . && { echo "port 2323 is taken; skipped"; exit 77; }

log=$(mktemp /tmp/tellarium-any-user-XXXXXX)
cleanup() {
  pkill -u "$user" 2>/dev/null || true
  sleep 0.5
  userdel -r "$user" 2>/dev/null || true
  rm -f "$log"
}
trap cleanup EXIT
fail() { echo "$*" >&2; cat "$log" >&2; exit 1; }

userdel -r "$user" 2>/dev/null || true
useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
git clone -q "$top" "$home/tellarium"
chown -R "$user:" "$home"
su "$user" -c "cd ~/tellarium && exec bash scripts/run-station.sh station" >"$log" 2>&1 &

address=
for _ in $(seq 1200); do
  address=$(sed -n 's/^Call the station with: telnet //p' "$log")
  [ -n "$address" ] && break
  kill -0 $! 2>/dev/null || fail "the run command ended"
  sleep 0.5
done
[ -n "$address" ] || fail "the run command printed no address"
greeting=
for _ in $(seq 100); do
  # shellcheck disable=SC2086 # host and port
  greeting=$(sleep 1 | telnet $address 2>/dev/null | tr -d '\r') || true
  grep -q "Press <ENTER> To Login." <<<"$greeting" && break
  sleep 0.2
done
grep -q "Press <ENTER> To Login." <<<"$greeting" || fail "telnet $address: no greeting"
echo "a user who is not root reached the station with: telnet $address"
