#!/bin/sh
# Renders the pictures of the README into docs/: the splash state, a scene
# of sprites and text, and the live window on two example tunes (fed with
# the engine's own rendering of their first 30 seconds), drawn in real
# windows on a virtual X server (Mesa's software renderer) and saved as PNG.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target screenshots
mkdir -p docs
# -noreset: the tool opens a second window after closing the first, and a
# server resetting as the last client leaves refuses the new connection.
SDL_AUDIODRIVER=dummy SDL_VIDEODRIVER=x11 LIBGL_ALWAYS_SOFTWARE=1 \
  xvfb-run -a -s "-noreset -screen 0 1280x720x24" build/screenshots docs "$root" >/dev/null
echo "screenshots: docs/splash.png docs/sprites.png docs/scope-classic.png docs/scope-sierpinski.png"
