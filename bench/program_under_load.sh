# Sourced by the web server benchmarks: starts the built program in a data folder of its own
# (on a private audio server when none answers), sets `pid`, `port` and `work`, and gives
# `figures`, which prints the program's thread count and resident memory in KiB.
# Before sourcing, `prepare_home` may be defined: it is called with the home folder first.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ZENNIC_BUILD_DIR:-$here/build}

work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  [ -n "${audio:-}" ] && "$here/scripts/virtual-audio" stop "$work/audio" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ -z "${PULSE_SERVER:-}" ]; then
  audio=1
  PULSE_SERVER=$("$here/scripts/virtual-audio" start "$work/audio")
  export PULSE_SERVER
fi

mkdir -p "$work/data" "$work/run" "$work/home"
if declare -F prepare_home >/dev/null; then prepare_home "$work/home"; fi
XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/run" HOME="$work/home" \
  "$build/ruzerad" >"$work/stdout" 2>"$work/stderr" &
pid=$!

url=""
for _ in $(seq 1 100); do
  url=$(cat "$work/stdout" "$work/stderr" | grep -o 'http://127\.0\.0\.1:[0-9]*' | head -n1 || true)
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || { cat "$work/stderr" >&2; echo "$(basename "$0"): the program did not report its URL" >&2; exit 1; }
port=${url##*:}

figures() {
  awk '/^Threads:/ {t=$2} /^VmRSS:/ {r=$2} END {print t, r}' "/proc/$pid/status"
}
