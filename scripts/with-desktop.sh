#!/usr/bin/env bash
# Runs a command inside a private desktop: Xvfb, openbox, a D-Bus session and
# a null-sink sound server, with HOME and XDG folders in a temporary place.
set -euo pipefail
source "$(dirname "$0")/private-home.sh"

pids=()
# The servers are waited for (up to 5 s) before their folder goes: one still
# writing there would make the removal, and so the whole run, fail.
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for _ in $(seq 50); do
    alive=0
    for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && break
    sleep 0.1
  done
  rm -rf "$work" 2>/dev/null || true
}
trap cleanup EXIT

display=:$((90 + RANDOM % 400))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
  --load="module-null-sink sink_name=nullsink" --load=module-native-protocol-unix >/dev/null 2>&1 & pids+=($!)
export SWIFTREEL_TEST_DESKTOP=1
dbus-run-session -- "$@"
