#!/usr/bin/env bash
# README's run command as a user who is not root (root clones the tree into the
# user's home and hands it over; the dependencies are installed already): a
# telnet client reaches the station at the address it printed. Needs root.
set -euo pipefail
top=$1
user=tellarium-tryout
[ "$(id -u)" = 0 ] && command -v useradd >/dev/null || exit 77
# The address a new station of a user without privileges listens on.
ss -ltnH "sport = :2323" | grep -q . && { echo "port 2323 is taken; skipped"; exit 77; }

log=$(mktemp /tmp/tellarium-any-user-XXXXXX)
trap 'pkill -u "$user"; sleep 0.5; userdel -r "$user" 2>/dev/null; rm -f "$log"' EXIT
fail() { echo "$*" >&2; cat "$log" >&2; exit 1; }

userdel -r "$user" 2>/dev/null || true
useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
git clone -q "$top" "$home/tellarium"
chown -R "$user:" "$home"
su "$user" -c "cd ~/tellarium && exec bash scripts/run-station.sh station" >"$log" 2>&1 &

address=
until [ -n "$address" ]; do
  kill -0 $! 2>/dev/null || fail "the run command ended without an address"
  sleep 0.5
  address=$(sed -n 's/^Call the station with: telnet //p' "$log")
done
for _ in $(seq 100); do
  # shellcheck disable=SC2086 # host and port
  greeting=$(sleep 1 | telnet $address 2>/dev/null | tr -d '\r\0') || true
  grep -q "Press <ENTER> To Login." <<<"$greeting" && { echo "reached with: telnet $address"; exit 0; }
done
fail "telnet $address: no greeting"
