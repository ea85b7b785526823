#!/usr/bin/env bash
# Rebuilds the sample world in assets/ from tools/make_sample_world.cpp.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${TOLVANE_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target make_sample_world -j"$(nproc)"
"$build/tools/make_sample_world" "$root/assets"
ls -l "$root/assets"
