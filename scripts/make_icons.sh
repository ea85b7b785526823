#!/usr/bin/env bash
# Remakes the menu icons in packaging/icons/ from the program's own
# pictures of the sample world: a 256 x 256 piece of one frame, its upper
# left half the stereogram and its lower right half the depth map that the
# stereogram hides, and the same shrunk to 48 x 48.
#
#   scripts/make_icons.sh
#
# The icons are kept in the repository, so a build needs neither this
# script nor ImageMagick (scripts/setup.sh --extras installs it); run it
# again when the sample world's look changes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${TOLVANE_BUILD_DIR:-$root/build}"
if ! command -v convert >/dev/null; then
  echo "make_icons.sh: ImageMagick's convert is missing; scripts/setup.sh --extras installs it" >&2
  exit 2
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target tolvane -j"$(nproc)"

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-icons.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The frame of docs/: the big tree, a ball and the fence on the right.
frame=(--world "$root/assets/world.xml" --time 1.05)
"$build/tolvane" --render "$work/stereo.png" "${frame[@]}" --seed 1
"$build/tolvane" --render "$work/depth.png" --view depth "${frame[@]}"
piece=256x256+384+212
convert "$work/stereo.png" -crop "$piece" +repage -type TrueColor "PNG24:$work/stereo-piece.png"
convert "$work/depth.png" -crop "$piece" +repage -colorspace sRGB -type TrueColor "PNG24:$work/depth-piece.png"
convert -size 256x256 xc:black -fill white -draw "polygon 0,0 255,0 0,255" "$work/mask.png"

# No time stamps or other text chunks: the same pictures give the same files.
png=(-strip -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt -type TrueColor)
mkdir -p "$root/packaging/icons/256x256" "$root/packaging/icons/48x48"
convert "$work/depth-piece.png" "$work/stereo-piece.png" "$work/mask.png" -composite "${png[@]}" \
  "PNG24:$root/packaging/icons/256x256/tolvane.png"
convert "$root/packaging/icons/256x256/tolvane.png" -filter Box -resize 48x48 "${png[@]}" \
  "PNG24:$root/packaging/icons/48x48/tolvane.png"
identify "$root"/packaging/icons/*/tolvane.png
