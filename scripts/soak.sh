#!/bin/sh
# Soak test of the live player (not run by CI):
#   ./scripts/soak.sh [MINUTES] [options of scripts/soak.py]
# Builds the player in build/ when it is missing, runs it for MINUTES
# (default 10) on SDL's disk writer while the tune is saved about ten times
# a second in every way an editor saves, then checks from the log and the
# captured sound that every compiled save was adopted and the latest save
# plays, and reports the growth of the resident memory and the processor
# time. Needs python3. Set TONEBROOK_BUILD to use another build folder.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TONEBROOK_BUILD:-$root/build}
minutes=10
case "${1:-}" in
  '' | -*) ;;
  *) minutes=$1; shift ;;
esac

if [ ! -x "$build/tonebrook" ]; then
  cmake -S "$root" -B "$build" -G Ninja
  cmake --build "$build" --target tonebrook
fi
exec python3 "$root/scripts/soak.py" "$build/tonebrook" --minutes "$minutes" "$@"
