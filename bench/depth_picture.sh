#!/usr/bin/env bash
# The stereogram of a depth picture, measured side by side with netpbm's
# one-line pipeline, the tool users already have:
#
#   1. wall time of the whole `tolvane --render OUT --depth D.png` process on
#      a 1920 x 1080 8-bit grey PNG, against
#      `pngtopnm D.png | pamstereogram | pnmtopng > OUT.png`
#      (median of RUNS runs each; the goal is at most 0.25 of netpbm's);
#   2. peak memory of tolvane on an 8000 x 8000 16-bit grey PNG, from
#      /usr/bin/time -v (the goal is at most 4 bytes a pixel + 40 MB).
#
#   bench/depth_picture.sh [TOLVANE] [RUNS]     default build/tolvane, 9
#
# netpbm is a peer to measure against, never a dependency of Tolvane; on
# Debian: apt-get install netpbm time. The depth pictures are made with
# netpbm's pgmramp, so nothing else is needed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tolvane=${1:-$root/build/tolvane}
runs=${2:-9}

for tool in pngtopnm pamstereogram pnmtopng pgmramp pamdepth; do
  if ! command -v "$tool" >/dev/null; then
    echo "depth_picture.sh: $tool is missing: apt-get install netpbm" >&2
    exit 2
  fi
done
if [ ! -x /usr/bin/time ]; then
  echo "depth_picture.sh: /usr/bin/time is missing: apt-get install time" >&2
  exit 2
fi
if [ ! -x "$tolvane" ]; then
  echo "depth_picture.sh: no program at $tolvane; build it first" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A round hill, light (near) in the middle.
pgmramp -ellipse 1920 1080 | pnmtopng > "$work/hd.png"

# Wall and processor time (user + system, every process of the line) of
# one command line, in seconds to the millisecond: "wall cpu". On a busy
# machine the wall time mostly measures the wait for a processor; the
# processor time does not.
timed() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >/dev/null 2>&1; } 2>"$work/one.txt"
  awk '{ printf "%s %.3f\n", $1, $2 + $3 }' "$work/one.txt"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Taken in turns, so that both lines meet the same machine: on a shared
# one its speed drifts over seconds.
ours_runs=""
theirs_runs=""
for _ in $(seq "$runs"); do
  ours_runs+=$(timed "$tolvane" --render "$work/ours.png" --depth "$work/hd.png")$'\n'
  theirs_runs+=$(timed bash -c \
    "pngtopnm '$work/hd.png' | pamstereogram 2>/dev/null | pnmtopng > '$work/theirs.png' 2>/dev/null")$'\n'
done
ours_runs=${ours_runs%$'\n'}
theirs_runs=${theirs_runs%$'\n'}
ours=$(cut -d' ' -f1 <<<"$ours_runs" | median)
theirs=$(cut -d' ' -f1 <<<"$theirs_runs" | median)
ours_cpu=$(cut -d' ' -f2 <<<"$ours_runs" | median)
theirs_cpu=$(cut -d' ' -f2 <<<"$theirs_runs" | median)
ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.4f", a / b }')
cpu_ratio=$(awk -v a="$ours_cpu" -v b="$theirs_cpu" 'BEGIN { printf "%.4f", a / b }')
printf '1920 x 1080 8-bit grey PNG, median of %s runs:   wall      processor\n' "$runs"
printf '  tolvane --render --depth                  %.3f s   %.3f s\n' "$ours" "$ours_cpu"
printf '  pngtopnm | pamstereogram | pnmtopng       %.3f s   %.3f s\n' "$theirs" "$theirs_cpu"
printf '  ratio                                     %.2f      %.2f   (goal: wall at most 0.25)\n' \
  "$ratio" "$cpu_ratio"
printf '  load average                              %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"

# 8000 x 8000, 16 bits a sample.
pgmramp -ellipse 8000 8000 | pamdepth 65535 | pnmtopng > "$work/big16.png"
/usr/bin/time -v "$tolvane" --render "$work/big.png" --depth "$work/big16.png" 2>"$work/time.txt"
peak_kb=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): //p' "$work/time.txt")
budget_kb=$(( (4 * 8000 * 8000 + 40 * 1000 * 1000) / 1024 ))
wall=$(sed -n 's/^[[:space:]]*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
printf '8000 x 8000 16-bit grey PNG:\n'
printf '  peak resident memory                      %s KiB (goal: at most %s KiB), %s wall\n' \
  "$peak_kb" "$budget_kb" "$wall"

status=0
if awk -v r="$ratio" 'BEGIN { exit !(r > 0.25) }'; then
  echo "depth_picture.sh: slower than a quarter of netpbm's time" >&2
  status=1
fi
if [ "$peak_kb" -gt "$budget_kb" ]; then
  echo "depth_picture.sh: more memory than the budget" >&2
  status=1
fi
exit $status
