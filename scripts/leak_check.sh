#!/usr/bin/env bash
# Runs the demo under valgrind, headless, and fails on any memory error, on
# anything definitely lost, or on an exit status other than 0.
#
#   scripts/leak_check.sh [FRAMES]     (default 300)
#
# Two runs, both in a scratch copy of the sample world in assets/, so a
# screenshot never lands in the repository:
#   1. the program itself, ended after FRAMES frames by
#      TOLVANE_EXIT_AFTER_FRAMES (the depth view it starts in);
#   2. tools/soak, the same frame loop with key presses queued every 20
#      frames, for twice as many frames: the stereogram view, both palettes,
#      pause, still dots, a screenshot and camera drags.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
frames=${1:-300}
build="$root/build-leak"

if ! [[ "$frames" =~ ^[0-9]+$ ]] || [ "$frames" -lt 1 ]; then
  echo "usage: $0 [FRAMES]" >&2
  exit 2
fi
if ! command -v valgrind >/dev/null; then
  echo "leak_check.sh: valgrind is missing; scripts/setup.sh installs it" >&2
  exit 2
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLVANE_BUILD_TESTS=OFF -DTOLVANE_BUILD_BENCH=OFF >/dev/null
if ! cmake --build "$build" -j"$(nproc)" --target tolvane soak >"$build/leak-build.log" 2>&1; then
  tail -n 60 "$build/leak-build.log" >&2
  echo "leak_check.sh: the build failed (whole log in $build/leak-build.log)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-leak.XXXXXX")
trap 'rm -rf "$work"' EXIT
world="$work/world"
mkdir -p "$world"
cp -R "$root/assets/." "$world/"

# Exit status 99 is valgrind's own: a memory error or a definite leak.
valgrind_options=(--leak-check=full --show-leak-kinds=definite,possible
                  --errors-for-leak-kinds=definite --error-exitcode=99
                  --num-callers=30)
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy

failures=0
# check NAME -- COMMAND...: runs COMMAND under valgrind in the world folder.
check() {
  local name=$1
  shift 2
  local log="$work/$name.valgrind" out="$work/$name.out" status=0
  (cd "$world" && valgrind "${valgrind_options[@]}" --log-file="$log" "$@" >"$out" 2>&1) || status=$?
  local errors lost
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9,]*\) errors.*/\1/p' "$log" | tail -n 1)
  lost=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -n 1)
  printf '%-6s exit status %s, %s memory errors, %s bytes definitely lost\n' \
    "$name" "$status" "${errors:-?}" "${lost:-0}"
  # The program must have run the world, not an empty screen.
  if grep -q 'world.xml: cannot be read' "$out"; then
    echo "$name: the world was not read:" >&2
    cat "$out" >&2
    failures=$((failures + 1))
  elif [ "$status" -ne 0 ] || [ "${errors:-1}" != "0" ] || [ "${lost:-0}" != "0" ]; then
    echo "$name: failed; the program's output, then valgrind's report:" >&2
    tail -n 20 "$out" >&2
    grep -v '^==[0-9]*== *$' "$log" | tail -n 120 >&2
    failures=$((failures + 1))
  fi
}

export TOLVANE_EXIT_AFTER_FRAMES="$frames"
check demo -- "$build/tolvane"
unset TOLVANE_EXIT_AFTER_FRAMES
check soak -- "$build/tools/soak" $((2 * frames)) 20
sed -n 's/^frames: /soak   frames: /p' "$work/soak.out"

if [ "$failures" -ne 0 ]; then
  echo "leak_check.sh: $failures of 2 runs failed" >&2
  exit 1
fi
echo "leak_check.sh: both runs clean"
