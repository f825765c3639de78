#!/usr/bin/env bash
# Runs a test program natively on Wayland: starts a headless weston on a socket of its own, runs
# the program with Qt's wayland platform, and stops weston. Without weston the run fails, unless
# TOKVANE_ALLOW_SKIPS=1 lets it be skipped (exit 77).
set -euo pipefail
program=$1
shift

if ! command -v weston > /dev/null; then
  echo "run-under-weston: weston is not installed (apt-get install weston qt6-wayland)" >&2
  [ "${TOKVANE_ALLOW_SKIPS:-}" = 1 ] && exit 77
  exit 1
fi

runtime=$(mktemp -d)
chmod 700 "$runtime"
socket=tokvane-test-$$
XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --socket="$socket" --idle-time=0 \
  --no-config > "$runtime/weston.log" 2>&1 &
weston_pid=$!
cleanup() {
  kill "$weston_pid" 2> /dev/null || true
  wait "$weston_pid" 2> /dev/null || true
  rm -rf "$runtime"
}
trap cleanup EXIT

for _ in $(seq 100); do
  [ -S "$runtime/$socket" ] && break
  if ! kill -0 "$weston_pid" 2> /dev/null; then break; fi
  sleep 0.1
done
if [ ! -S "$runtime/$socket" ]; then
  echo "run-under-weston: weston did not open its socket; its log:" >&2
  cat "$runtime/weston.log" >&2
  exit 1
fi

XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland "$program" "$@"
