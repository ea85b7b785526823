#!/usr/bin/env bash
# Runs the demo's frame loop headless for FRAMES frames (default 100000),
# with a key press or a mouse drag queued every EVERY frames (default 250),
# and prints its resident memory after the first 1000 frames and at the end.
# Fails when it grew by more than 1 MiB. Takes about a minute per 100000
# frames on one core.
#
#   scripts/soak.sh [FRAMES [EVERY]]
#
# It runs in a scratch copy of the sample world, so its screenshots never
# land in assets/. TOLVANE_BUILD_DIR picks the build folder (default build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
frames=${1:-100000}
every=${2:-250}
build="${TOLVANE_BUILD_DIR:-$root/build}"

if [ ! -f "$root/assets/world.xml" ]; then
  echo "soak.sh: assets/world.xml is missing; scripts/make_sample_world.sh writes it" >&2
  exit 2
fi

# A folder configured before keeps its settings; a new one is a Release build.
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" >/dev/null
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target soak

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-soak.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -R "$root/assets/." "$work/"
cd "$work"
echo "Soaking for $frames frames, an input every $every frames"
start=$(date +%s)
status=0
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$build/tools/soak" "$frames" "$every" || status=$?
echo "took $(( $(date +%s) - start )) s"
exit "$status"
