#!/bin/sh
# Makes the README's picture of a tune: docs/glide.png, the first 16 seconds
# of examples/glide.txt. Builds tonebrook first when build/ has none.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ ! -x build/tonebrook ]; then
  cmake -S . -B build -G Ninja
  cmake --build build --target tonebrook
fi
build/tonebrook --picture docs/glide.png --seconds 16 examples/glide.txt 2>/dev/null
echo "readme-picture: wrote docs/glide.png"
