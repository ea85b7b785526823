#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each one for SECONDS (default 30), one after another.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     e.g. scripts/fuzz.sh 600 world
#
# Each target starts from a scratch copy of its checked-in seeds in
# fuzz/corpus/<target>/; what it finds on the way stays in the build folder,
# never in the repository. Any crash, failed check, leak, timeout or
# out-of-memory fails the script and leaves the input in fuzz/artifacts/
# with the command that replays it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
build="$root/build-fuzz"
artifacts="$root/fuzz/artifacts"

if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: $0 [SECONDS] [TARGET...]" >&2
  exit 2
fi
if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is missing; scripts/setup.sh installs it" >&2
  exit 2
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/fuzz/*_fuzz.cpp; do
    name=$(basename "$source" .cpp)
    targets+=("${name%_fuzz}")
  done
fi

echo "Building ${#targets[@]} fuzz targets in $build"
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLVANE_FUZZ=ON -DTOLVANE_BUILD_TESTS=OFF -DTOLVANE_BUILD_BENCH=OFF >/dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=("${t}_fuzz"); done
if ! cmake --build "$build" -j"$(nproc)" --target "${build_targets[@]}" >"$build/fuzz-build.log" 2>&1; then
  tail -n 60 "$build/fuzz-build.log" >&2
  echo "fuzz.sh: the build failed (whole log in $build/fuzz-build.log)" >&2
  exit 1
fi

# Scratch space: the corpus copies, and TMPDIR for the targets' own files.
work="$build/fuzz-run"
rm -rf "$work"
mkdir -p "$work" "$artifacts"
trap 'rm -rf "$work"' EXIT

# Undefined behaviour stops the run like a crash does; libFuzzer itself
# reports leaks, timeouts and running out of memory.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-}
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy

failed=()
total_runs=0
for t in "${targets[@]}"; do
  binary="$build/fuzz/${t}_fuzz"
  corpus="$work/corpus/$t"
  log="$work/$t.log"
  mkdir -p "$corpus" "$work/tmp-$t"
  if [ -d "$root/fuzz/corpus/$t" ]; then
    cp -R "$root/fuzz/corpus/$t/." "$corpus/"
  fi
  options=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1
           -artifact_prefix="$artifacts/$t-")
  if [ -f "$root/fuzz/$t.dict" ]; then
    options+=(-dict="$root/fuzz/$t.dict")
  fi

  status=0
  TMPDIR="$work/tmp-$t" "$binary" "${options[@]}" "$corpus" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs=${runs:-0}
  total_runs=$((total_runs + runs))
  if [ "$status" -eq 0 ]; then
    printf '%-20s %10s executions in %s s, clean\n' "$t" "$runs" "$seconds"
  else
    failed+=("$t")
    printf '%-20s FAILED (exit status %s) after %s executions\n' "$t" "$status" "$runs"
    # The sanitizer's or the check's own report, without libFuzzer's chatter.
    grep -E -A40 'ERROR: |check failed|runtime error|SUMMARY' "$log" | head -n 80 || true
    found=$(sed -n "s/.*Test unit written to //p" "$log" | tail -n 1)
    if [ -n "$found" ]; then
      echo "Input kept in $found"
      echo "Replay it with: $binary $found"
    else
      tail -n 20 "$log"
    fi
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz.sh: ${#failed[@]} of ${#targets[@]} targets failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: all ${#targets[@]} targets clean, $total_runs executions in total, $seconds s each"
