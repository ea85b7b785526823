#!/bin/bash
# Every vector kernel is chosen through the one CPU probe in depth/cpu_level,
# so that a test forcing a level runs that level everywhere. A function
# cloned per target, or a second question to the processor, would pick its
# own level behind the probe's back (and the scalar tests would quietly run
# AVX-512 there). Usage: one_cpu_probe.sh SOURCE_DIR
set -u
root=${1:?source folder}
probe=depth/cpu_level.cpp
if ! grep -q '__builtin_cpu_supports' "$root/$probe"; then
    echo "the probe is no longer in $probe: update this check" >&2
    exit 1
fi
found=$(cd "$root" && grep -rnE 'target_clones|__builtin_cpu_(supports|is|init)' \
    --include='*.cpp' --include='*.hpp' app depth display io markup stereo world | grep -v "^$probe:")
if [ -n "$found" ]; then
    echo "kernels must be chosen by detectedCpuLevel() alone; found:" >&2
    echo "$found" >&2
    exit 1
fi
