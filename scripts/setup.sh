#!/usr/bin/env bash
# Installs the Debian packages a task needs and that are missing. Debian 12,
# as root (or with sudo). Safe to run again: it installs nothing that is
# already there.
#
#   scripts/setup.sh              everything scripts/test.sh needs
#   scripts/setup.sh --runtime    building and running the demo
#   scripts/setup.sh --package    building and checking the .deb (package.sh)
#   scripts/setup.sh --cross arm64  cross-building and testing (cross-test.sh)
#   scripts/setup.sh --extras     the tools the README's recipes use
#   scripts/setup.sh --web        the browser build (web.sh)
set -euo pipefail

build=(cmake g++ make pkg-config libsdl1.2-compat-dev libpng-dev libgtest-dev libbenchmark-dev)
# end-to-end tests in a real window
e2e=(xvfb xdotool imagemagick x11-utils)
# sanitizer build, fuzzing and the leak check
checks=(clang libclang-rt-14-dev valgrind)
# CPack's dependency lookup (dpkg-shlibdeps, which needs file) and lintian
package=(dpkg-dev file lintian)
# the browser build and its test in headless Chromium
web=(emscripten chromium python3-websocket)
# ImageMagick (convert: pictures to depth images, frames to a GIF, the
# icons), ffmpeg (frames to a video), GNU parallel (many conversions at
# once), and netpbm and time for bench/depth_picture.sh (pamstereogram, the
# peer it measures against, and the peak memory)
extras=(imagemagick ffmpeg parallel netpbm time)

foreign=""
case "${1:-}" in
  "") packages=("${build[@]}" "${e2e[@]}" "${checks[@]}" "${package[@]}" "${web[@]}") ;;
  --runtime) packages=("${build[@]}") ;;
  --package) packages=("${build[@]}" "${package[@]}") ;;
  --extras) packages=("${extras[@]}") ;;
  --web) packages=(cmake make emscripten) ;;
  --cross)
    if [ "${2:-}" != arm64 ]; then
      echo "usage: $0 --cross arm64" >&2
      exit 2
    fi
    # The :arm64 development packages sit beside the native ones
    # (multiarch); qemu-user runs what is built.
    foreign=arm64
    packages=("${build[@]}" crossbuild-essential-arm64 qemu-user
              libsdl1.2-compat-dev:arm64 libpng-dev:arm64 libgtest-dev:arm64)
    ;;
  *)
    echo "usage: $0 [--runtime | --package | --extras | --web | --cross arm64]" >&2
    exit 2
    ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
if [ -n "$foreign" ] && ! dpkg --print-foreign-architectures | grep -qx "$foreign"; then
  echo "Adding the $foreign architecture to dpkg"
  $sudo dpkg --add-architecture "$foreign"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
