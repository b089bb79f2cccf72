#!/bin/sh
# Sets up what is missing, builds tonebrook and plays a tune:
#   ./scripts/play.sh [TUNE-FILE [RATE]]   (default: examples/classic.txt)
# Edit the tune file in any editor while it plays; every save is heard at once.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target tonebrook

if [ "$#" -eq 0 ]; then
  set -- "$root/examples/classic.txt"
fi
exec "$root/build/tonebrook" "$@"
