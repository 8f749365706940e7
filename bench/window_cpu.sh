#!/usr/bin/env bash
# CPU the player takes showing a movie in a real window: the whole process
# (every thread), utime+stime over SECONDS of play, as % of one core. The
# window is on a private Xvfb with no window manager; the process is pinned
# to one core. With SOUND=1 a sound server with a null sink runs too, so
# that the movie's sound is really decoded and mixed.
#   [SOUND=1] bench/window_cpu.sh BUILD_DIR MOVIE [SECONDS=10] [CORE=0]
set -euo pipefail
build=$1 movie=$2 seconds=${3:-10} core=${4:-0}
source "$(dirname "$0")/../scripts/private-home.sh"
pids=()
# The player goes first, while its display is still there.
cleanup() { for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; wait "${pids[i]}" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

display=:$((500 + RANDOM % 400))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
if [ "${SOUND:-0}" = 1 ]; then
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load="module-null-sink sink_name=nullsink" --load=module-native-protocol-unix >/dev/null 2>&1 & pids+=($!)
  for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && break; sleep 0.1; done
fi

taskset -c "$core" "$build/startup/swiftreel" "$movie" >/dev/null 2>&1 & player=$!
pids+=($player)
sleep 3 # start-up and the first frames are not counted
ticks() { awk '{print $14 + $15}' "/proc/$player/stat"; }
t0=$(ticks)
sleep "$seconds"
t1=$(ticks)
hz=$(getconf CLK_TCK)
awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$seconds" \
    'BEGIN { printf "%.2f %% of a core (%d ticks of 1/%d s in %d s)\n", 100 * d / (hz * s), d, hz, s }'
