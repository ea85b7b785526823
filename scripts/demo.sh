#!/usr/bin/env bash
# Sets up, builds and starts the demo in the sample world.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --runtime
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target tolvane -j"$(nproc)"
# The world is read from "world.xml" in the working directory.
cd "$root/assets"
exec "$root/build/tolvane" "$@"
