#!/bin/sh
# The live player's own cost while it runs: CPU time (share of one core; in
# all, and of the threads other than the main one, which are SDL's audio
# thread) and wake-ups (context switches of all its threads) per second,
# measured over a window of SECONDS (60 by default) after a start-up of 2 s.
#
#   bench/cpu_usage.sh [BUILD_DIR [SECONDS]]
#
# Three processes run at the same time, so that all see the same machine:
# one playing examples/classic.txt, one playing it while it records it
# (--record) and one idle (no tune: the runtime's loop and the audio stream
# with nothing to play). With TONEBROOK_BASELINE=PATH a third
# process plays the same tune with another build (an earlier one, say), for
# comparison. With TONEBROOK_SCOPE=1 one more plays the same tune with its
# window (--scope) on the display in DISPLAY, and its frames a second are
# shown too: run it under a virtual X server with Mesa's software renderer,
#   TONEBROOK_SCOPE=1 LIBGL_ALWAYS_SOFTWARE=1 xvfb-run -a bench/cpu_usage.sh
# The sound goes to SDL's dummy driver, which plays into nothing in real time
# (SDL_AUDIODRIVER overrides it). Not part of the test suite.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-60}
exe=$build/tonebrook
[ -x "$exe" ] || { echo "no $exe: build first" >&2; exit 1; }
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
export SDL_VIDEODRIVER=${SDL_VIDEODRIVER:-dummy}
hz=$(getconf CLK_TCK)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/examples/classic.txt" "$work/tune.txt"

# utime + stime of the process in clock ticks, the time on a processor of
# its threads but the main one in nanoseconds (a tick is too coarse for the
# audio thread), then the context switches of every thread.
sample() {
  cpu=$(awk '{ print $14 + $15 }' "/proc/$1/stat")
  others=$(for task in /proc/"$1"/task/*; do [ "${task##*/}" = "$1" ] || cat "$task/schedstat"; done |
    awk '{ n += $1 } END { printf "%d\n", n }')
  switches=$(cat /proc/"$1"/task/*/status | awk '/^(non)?voluntary_ctxt_switches/ { n += $2 } END { print n }')
  echo "$cpu $others $switches"
}

start() {  # name, executable, arguments...
  name=$1
  shift
  "$@" >"$work/$name.log" 2>&1 &
  echo $! >"$work/$name.pid"
}

start playing "$exe" "$work/tune.txt"
start recording "$exe" --record "$work/recording.wav" "$work/tune.txt"
start idle "$exe"
runs="playing recording idle"
if [ -n "${TONEBROOK_SCOPE:-}" ]; then
  start window env -u SDL_VIDEODRIVER "$exe" --scope "$work/tune.txt"
  runs="$runs window"
fi
if [ -n "${TONEBROOK_BASELINE:-}" ]; then
  start baseline "$TONEBROOK_BASELINE" "$work/tune.txt"
  runs="$runs baseline"
fi
sleep 2
for run in $runs; do sample "$(cat "$work/$run.pid")" >"$work/$run.before"; done
sleep "$seconds"
for run in $runs; do
  pid=$(cat "$work/$run.pid")
  sample "$pid" >"$work/$run.after"
  echo "$(ls /proc/"$pid"/task | wc -l)" >"$work/$run.threads"
done
# SIGTERM: a shell script's background jobs ignore SIGINT. SDL turns it into
# its quit event, as it does an interrupt.
for run in $runs; do kill -TERM "$(cat "$work/$run.pid")"; done
for run in $runs; do wait "$(cat "$work/$run.pid")" || true; done

echo "$seconds s with SDL_AUDIODRIVER=$SDL_AUDIODRIVER"
printf '%-10s %12s %12s %14s %8s\n' run "cpu (% core)" "audio (%)" "wake-ups / s" threads
for run in $runs; do
  read -r c0 a0 s0 <"$work/$run.before"
  read -r c1 a1 s1 <"$work/$run.after"
  awk -v run="$run" -v c=$((c1 - c0)) -v a=$((a1 - a0)) -v s=$((s1 - s0)) -v hz="$hz" -v t="$seconds" \
    -v n="$(cat "$work/$run.threads")" \
    'BEGIN { printf "%-10s %12.3f %12.3f %14.1f %8d\n", run, c / hz / t * 100, a / 1e9 / t * 100, s / t, n }'
done
grep -q "DECODED" "$work/playing.log" || echo "warning: the playing run decoded no tune (no sound device?)" >&2
if [ -n "${TONEBROOK_SCOPE:-}" ]; then
  grep -a "the window drew" "$work/window.log" | sed 's/.*\] //' ||
    { echo "warning: the window did not open:" >&2; grep -a "scope" "$work/window.log" >&2 || true; }
fi
