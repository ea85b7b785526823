#!/usr/bin/env bash
# Builds the browser version into build-web/site (index.html, the engine as
# WebAssembly, the sample world packaged beside it) and serves that folder on
# http://127.0.0.1:8000/. `--build-only` stops after the build. Any static
# file server can serve build-web/site instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
port=${TOLVANE_WEB_PORT:-8000}

"$root/scripts/setup.sh" --web
# Emscripten's JavaScript tools look for Debian's own Node.js modules
# (acorn) here, also under a Node.js that is not Debian's.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
emcmake cmake -S "$root" -B "$root/build-web" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-web" -j"$(nproc)"

[ "${1:-}" = "--build-only" ] && exit 0
echo "Serving $root/build-web/site on http://127.0.0.1:$port/ (Ctrl+C stops)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$root/build-web/site"
