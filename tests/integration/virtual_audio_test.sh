#!/usr/bin/env bash
# The private audio server of scripts/virtual-audio has the Windows-like devices with the right
# names and defaults.
set -euo pipefail
: "${PULSE_SERVER:?PULSE_SERVER is not set: run the tests through scripts/test}"
: "${ZENNIC_VIRTUAL_AUDIO:?ZENNIC_VIRTUAL_AUDIO is not set: run the tests through scripts/test}"
fail() { echo "FAIL: $*" >&2; exit 1; }

sinks=$(pactl list short sinks | cut -f2 | sort | tr '\n' ' ')
[ "$sinks" = "cable_input headphones speakers " ] || fail "sinks are: $sinks"
sources=$(pactl list short sources | cut -f2 | grep -v '\.monitor$' | sort | tr '\n' ' ')
[ "$sources" = "cable_output test_microphone " ] || fail "sources are: $sources"
[ "$(pactl get-default-sink)" = speakers ] || fail "default sink is $(pactl get-default-sink)"
[ "$(pactl get-default-source)" = test_microphone ] || fail "default source is $(pactl get-default-source)"

description() { pactl list "$1" | awk -v name="$2" '$1 == "Name:" { found = ($2 == name) } found && $1 == "Description:" { sub(/^[ \t]*Description: /, ""); print; exit }'; }
[ "$(description sinks speakers)" = "Speakers (Virtual)" ] || fail "speakers: $(description sinks speakers)"
[ "$(description sinks cable_input)" = "CABLE Input" ] || fail "cable input: $(description sinks cable_input)"
[ "$(description sinks headphones)" = "Headphones (Virtual)" ] || fail "headphones"
[ "$(description sources cable_output)" = "CABLE Output" ] || fail "cable output"
[ "$(description sources test_microphone)" = "Microphone (Virtual)" ] || fail "microphone"
pactl list short modules | grep -q module-suspend-on-idle && fail "module-suspend-on-idle is loaded"

# What is played into "CABLE Input" comes out of "CABLE Output".
work=$(mktemp -d)
own="$work/own"
trap '"$ZENNIC_VIRTUAL_AUDIO" stop "$own"; rm -rf "$work"' EXIT
sox -n -r 48000 -c 2 -b 16 "$work/tone.wav" synth 1 sine 1000 vol 0.5
parec --latency-msec=20 -d cable_output --raw --format=s16le --rate=48000 --channels=2 >"$work/recording.raw" &
recorder=$!
sleep 0.3
paplay -d cable_input "$work/tone.wav"
sleep 0.3
kill "$recorder"; wait "$recorder" 2>/dev/null || true
peak=$(sox -t raw -r 48000 -c 2 -e signed -b 16 "$work/recording.raw" -n stat 2>&1 | awk '/Maximum amplitude/ { print $3 }')
awk -v peak="$peak" 'BEGIN { exit !(peak > 0.3) }' || fail "the cable carried no tone (peak $peak)"

# A server of its own stops with every process it started, and starts again with the same
# devices at the same address, as a test of the server going away and coming back needs.
address=$("$ZENNIC_VIRTUAL_AUDIO" start "$own")
"$ZENNIC_VIRTUAL_AUDIO" stop "$own"
PULSE_SERVER=$address timeout 5 pactl info >/dev/null 2>&1 && fail "the stopped server still answers"
# Its processes name its folder in their command line or environment: one line each, the
# process number and the command line.
survivors() {
  local pid
  # The folder reaches grep by a pipe, so that grep's own command line does not name it.
  for pid in $(grep -lsF -f <(echo "$own") /proc/[0-9]*/cmdline /proc/[0-9]*/environ |
    cut -d/ -f3 | sort -u); do
    echo "$pid $(tr '\0\n' '  ' <"/proc/$pid/cmdline" 2>/dev/null)"
  done
}
for _ in $(seq 1 20); do
  [ -z "$(survivors)" ] && break
  sleep 0.1
done
[ -z "$(survivors)" ] || fail "processes of the stopped server live on: $(survivors)"
[ "$("$ZENNIC_VIRTUAL_AUDIO" start "$own")" = "$address" ] || fail "the server came back elsewhere"
[ "$(PULSE_SERVER=$address pactl get-default-sink)" = speakers ] || fail "no speakers after the restart"
PULSE_SERVER=$address pactl list short sources | grep -q cable_output || fail "no cable after the restart"

# A server frozen in place is ended by the next start, with its microphone's feeder, so that the
# new microphone has one feeder alone.
frozen=$(survivors | awk '$2 ~ /^(pulseaudio|pipewire|pipewire-pulse|wireplumber)$/ { print $1 }')
[ -n "$frozen" ] || fail "no server process found: $(survivors)"
kill -STOP $frozen
[ "$("$ZENNIC_VIRTUAL_AUDIO" start "$own")" = "$address" ] || fail "no server after the frozen one"
for pid in $frozen; do
  # A zombie awaiting its reaper has ended.
  ps -o stat= -p "$pid" | grep -qv '^Z' && fail "a process of the frozen server lives on: $pid"
done
[ "$(survivors | grep -c 'microphone\.fifo')" = 1 ] || fail "feeders: $(survivors | grep microphone)"
echo "virtual audio devices: ok"
