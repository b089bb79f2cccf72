#!/bin/sh
# Renders the pictures of the README into docs/: the splash state and a
# scene of sprites and text, drawn in a real window on a virtual X server
# (Mesa's software renderer) and saved as PNG.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target screenshots
mkdir -p docs
SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=x11 LIBGL_ALWAYS_SOFTWARE=1 \
  xvfb-run -a -s "-screen 0 1280x720x24" build/screenshots docs >/dev/null
echo "screenshots: docs/splash.png docs/sprites.png"
