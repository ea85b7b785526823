#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit and end-to-end tests of the
# normal build, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, a bounded run of every fuzz target, a
# leak-checked run of the demo, the browser build tested in headless
# Chromium, the Debian package (built, checked by lintian, installed, its
# program checked, purged) and the arm64 cross-build with its unit tests
# under qemu. `--quick` runs the normal build's tests only; `--web` only the
# browser build and its test (the native program draws the reference
# pictures).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
quick=0
web_only=0
[ "${1:-}" = "--quick" ] && quick=1
[ "${1:-}" = "--web" ] && web_only=1

"$root/scripts/setup.sh"

stage() { printf '\n=== %s ===\n' "$*"; }

web_stage() {
  stage "Browser build and tests in headless Chromium"
  "$root/scripts/web.sh" --build-only
  /usr/bin/python3 "$root/tests/browser/browser_test.py" "$root/build-web/site" "$root/build/tolvane"
}

if [ $web_only -eq 1 ]; then
  cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$root/build" --target tolvane -j"$jobs"
  web_stage
  exit 0
fi

stage "Release build and tests"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" -j"$jobs"
ctest --test-dir "$root/build" --output-on-failure -j"$jobs"

[ $quick -eq 1 ] && exit 0

web_stage

stage "Sanitizer build and tests"
cmake -S "$root" -B "$root/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLVANE_SANITIZE=ON -DTOLVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build-sanitize" -j"$jobs"
# SDL and the X libraries keep allocations until exit; leaks of our own code
# are checked by the valgrind run below instead.
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-sanitize" --output-on-failure -j"$jobs"

if [ -x "$root/scripts/fuzz.sh" ]; then
  stage "Fuzzing, ${TOLVANE_FUZZ_SECONDS:-30} s per target"
  "$root/scripts/fuzz.sh" "${TOLVANE_FUZZ_SECONDS:-30}"
fi

if [ -x "$root/scripts/leak_check.sh" ]; then
  stage "Leak-checked demo run"
  "$root/scripts/leak_check.sh"
fi

if [ -x "$root/scripts/package.sh" ]; then
  stage "Debian package: build, lintian, install, check, purge"
  "$root/scripts/package.sh"
  "$root/scripts/check_package.sh"
fi

if [ -x "$root/scripts/cross-test.sh" ]; then
  stage "arm64: cross-build, unit tests under qemu"
  "$root/scripts/cross-test.sh" arm64
fi
