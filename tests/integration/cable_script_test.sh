#!/usr/bin/env bash
# scripts/cable, run as a user runs it, adds the cable to a server started as a desktop login
# starts it, removes it, and keeps it across restarts of the server through the file it names;
# the program finds the cable it makes.
# usage: cable_script_test.sh <the built program>
set -euo pipefail
: "${ZENNIC_VIRTUAL_AUDIO:?ZENNIC_VIRTUAL_AUDIO is not set: run the tests through scripts/test}"
program=$1
here=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
own="$work/audio"
trap '"$ZENNIC_VIRTUAL_AUDIO" stop "$own"; rm -rf "$work"' EXIT
address=$("$ZENNIC_VIRTUAL_AUDIO" start-desktop "$own")
# The server's user lives in its folder, so the user's own configuration is never touched.
cable() { PULSE_SERVER=$address HOME=$own XDG_CONFIG_HOME=$own/config "$here/scripts/cable" "$@"; }
cable_there() { PULSE_SERVER=$address pactl list short sinks | cut -f2 | grep -qx cable_input; }

# What the program's device list says: the cable detected, and "CABLE Input" among the outputs.
program_finds_cable() {
  local run="$work/run-$1" url
  mkdir -p "$run/data" "$run/home" "$run/runtime"
  chmod 700 "$run/runtime"
  env -u DISPLAY -u WAYLAND_DISPLAY PULSE_SERVER="$address" XDG_DATA_HOME="$run/data" \
    XDG_RUNTIME_DIR="$run/runtime" HOME="$run/home" "$program" >"$run/out" 2>"$run/err" &
  local pid=$!
  for _ in $(seq 1 100); do
    url=$(sed -n 's/.*Web client listening at \(http:[^ ]*\).*/\1/p' "$run/err")
    [ -n "$url" ] && break
    sleep 0.1
  done
  [ -n "$url" ] || { kill "$pid"; cat "$run/err" >&2; fail "the program did not start"; }
  local cookie
  cookie=$(curl -s -D - -o /dev/null "$url/" | sed -n 's/^Set-Cookie: \([^;]*\).*/\1/p')
  curl -s -X POST -H "Cookie: $cookie" -H "Content-Type: application/json" -d '{}' \
    "$url/api/mixer/devices" >"$run/devices.json"
  kill "$pid"
  wait "$pid" || true
  python3 -c '
import json, sys
devices = json.load(open(sys.argv[1]))
names = [device["name"] for device in devices["outputs"]]
sys.exit(0 if devices["vb_cable_detected"] and "CABLE Input" in names else 1)' "$run/devices.json"
}

# Restarts the server in its folder, as the user's next login does.
restart() {
  "$ZENNIC_VIRTUAL_AUDIO" stop "$own"
  address=$("$ZENNIC_VIRTUAL_AUDIO" start-desktop "$own")
}

# Modules a server loads at its start may come a moment after it first answers.
eventually() {
  for _ in $(seq 1 50); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

cable_there && fail "the desktop server has a cable before the script adds one"
program_finds_cable before && fail "the program finds a cable before there is one"
cable add >/dev/null
program_finds_cable added || fail "the program does not find the added cable"
cable remove >/dev/null
cable_there && fail "the cable is still there after remove"

kept=$(cable keep | sed -n 's/^Kept across logins: the server reads \(.*\) at every start;.*/\1/p')
[ -f "$kept" ] || fail "keep named no file it wrote"
case "$kept" in "$own"/*) ;; *) fail "the kept file $kept is not in the user's folder" ;; esac
restart
eventually cable_there || fail "the kept file did not bring the cable back at the server's start"
program_finds_cable kept || fail "the program does not find the kept cable"

cable remove >/dev/null
[ -e "$kept" ] && fail "remove left the kept file $kept"
cable_there && fail "the cable is still there after remove"

# A PulseAudio start-up file of the user's own is never replaced.
if ! PULSE_SERVER=$address pactl info | grep -q PipeWire; then
  mkdir -p "$own/.config/pulse"
  printf '.include /etc/pulse/default.pa\n' >"$own/.config/pulse/default.pa"
  cable keep 2>/dev/null && fail "keep went on over the user's own default.pa"
  [ "$(cat "$own/.config/pulse/default.pa")" = ".include /etc/pulse/default.pa" ] ||
    fail "keep changed the user's own default.pa"
fi
echo "cable script: ok"
