#!/bin/sh
# Installs what tonebrook needs to build and test on Debian 12.
# Safe to run again: packages already present are left alone.
set -eu

packages="
  build-essential cmake ninja-build pkg-config clang
  libsdl1.2-dev libsdl-mixer1.2-dev libsdl-image1.2-dev
  libgl-dev libgl1-mesa-dri libglu1-mesa-dev mesa-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libfftw3-dev
  mandoc dpkg-dev file lintian
  python3
  xvfb xauth
"

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done

if [ -z "$missing" ]; then
  echo "install-deps: everything is already installed"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  sudo=""
elif command -v sudo >/dev/null 2>&1; then
  sudo="sudo"
else
  echo "install-deps: need root or sudo to install:$missing" >&2
  exit 1
fi

echo "install-deps: installing$missing"
$sudo apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
