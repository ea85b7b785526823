#!/usr/bin/env bash
# Installs whatever the build, the demo and the tests need and is missing.
# Debian 12, as root (or with sudo). Safe to run again: it installs nothing
# that is already there. `--runtime`: only what the demo needs; `--web`:
# only what the browser build needs.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libsdl1.2-compat-dev libpng-dev libgtest-dev libbenchmark-dev
  # end-to-end tests in a real window
  xvfb xdotool imagemagick x11-utils
  # sanitizer build, fuzzing and the leak check
  clang libclang-rt-14-dev valgrind
  # the browser build and its test in headless Chromium
  emscripten chromium python3-websocket
)
if [ "${1:-}" = "--runtime" ]; then
  packages=(cmake g++ make pkg-config libsdl1.2-compat-dev libpng-dev libgtest-dev libbenchmark-dev)
elif [ "${1:-}" = "--web" ]; then
  packages=(cmake make emscripten)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
