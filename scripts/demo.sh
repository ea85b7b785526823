#!/usr/bin/env bash
# Sets up, builds and starts the demo in the sample world.
#
#   scripts/demo.sh [OPTIONS] [WORLD.xml]
#
# The demo runs in pictures/ (git ignores it), so what key K saves
# (screenshot.bmp, stereogram-NNNN.png) lands there and never in the
# checkout. Without a world it runs assets/world.xml; names given are taken
# from the folder the script was started in.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --runtime
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target tolvane -j"$(nproc)"

arguments=()
world_given=0
for argument in "$@"; do
  # Files named from here still name them once the demo runs elsewhere.
  if [ -e "$argument" ]; then argument=$(realpath -- "$argument"); fi
  case "$argument" in *.xml) world_given=1 ;; esac
  arguments+=("$argument")
done
[ "$world_given" -eq 1 ] || arguments+=("$root/assets/world.xml")

mkdir -p "$root/pictures"
cd "$root/pictures"
echo "Running in $root/pictures: key K saves its pictures here"
exec "$root/build/tolvane" "${arguments[@]}"
