#!/usr/bin/env bash
# Frames per second of the demo in a real window under a private Xvfb, in
# the depth view and in the stereogram view (key S), for one or more builds
# of the program, and (with -p) where a windowed stereogram frame's time goes.
#
# Usage: bash bench/window_fps.sh [-s SECONDS] [-r RUNS] [-p] PROGRAM [PROGRAM...]
#   -s SECONDS  length of each count (default 3)
#   -r RUNS     counts per figure; the median is reported (default 3)
#   -p          also profile each program's stereogram view with perf: the
#               share of the samples of the program and of the X server in
#               each library
#
# Each count runs the program with the sample world (a copy of assets/),
# waits until the view is up and has run half a second, then counts the
# frames of the next SECONDS: every frame sets the window title, and each
# title change reaches xev as a property event stamped by the X server, so
# the rate is (changes - 1) over the time from the first to the last stamp.
# A capture of the window then confirms the view (the depth view shows only
# grey ramp entries, the stereogram random colours). Beside the rate it
# reports the CPU time per frame of the program and the X server together,
# which a busy machine disturbs less. Programs are measured alternately, so
# a busy machine slows them alike; still, for rates worth comparing, run it
# on a quiet machine.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/e2e/libxvfb.sh"
# A frame limit from the caller would end the program mid-count.
unset TOLVANE_EXIT_AFTER_FRAMES

seconds=3
runs=3
profile=0
usage() {
  echo "usage: $0 [-s SECONDS] [-r RUNS] [-p] PROGRAM [PROGRAM...]" >&2
  exit 2
}
while getopts s:r:p option; do
  case $option in
    s) seconds=$OPTARG ;;
    r) runs=$OPTARG ;;
    p) profile=1 ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || usage
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "$0: -s needs a whole number of seconds, not \"$seconds\"" >&2; exit 2; }
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "$0: -r needs a positive count, not \"$runs\"" >&2; exit 2; }
programs=()
for program in "$@"; do
  [ -f "$program" ] && [ -x "$program" ] || { echo "$0: not a program: $program" >&2; exit 2; }
  programs+=("$(cd "$(dirname "$program")" && pwd)/$(basename "$program")")
done
e2e_require Xvfb xdotool xev xprop import od awk
if [ "$profile" -eq 1 ]; then
  e2e_require perf
fi

prefix="Tolvane Engine Demo - By Harwick - FPS: "
xvfb_start 800x600x24
work=$(e2e_tempdir)
logs=$(e2e_tempdir)
cp -R "$here/../assets/." "$work/"

# Starts the program and brings up the view (depth or stereo); sets WINDOW.
WINDOW=""
start_view() {
  local program=$1 view=$2
  e2e_start_app "$work" "$logs/out" "$logs/err" "$program"
  if ! WINDOW=$(wait_for_window "$prefix" 30); then
    e2e_log "$program: no window; stderr: $(cat "$logs/err")"
    return 1
  fi
  if [ "$view" = stereo ]; then
    # The key goes to the focused window: wait for the focus first, or the
    # key may land nowhere.
    xdotool windowfocus --sync "$WINDOW" 2>/dev/null || true
    send_key "$WINDOW" s
  fi
  sleep 0.5
}

# Ends the program started by start_view.
stop_view() {
  local program=$1
  send_key "$WINDOW" Escape
  if ! wait_for_exit "$APP_PID" 10; then
    e2e_log "$program: still running 10 s after Escape"
    kill "$APP_PID" 2>/dev/null
    return 1
  fi
  if [ "$APP_STATUS" -ne 0 ]; then
    e2e_log "$program: exit status $APP_STATUS; stderr: $(cat "$logs/err")"
    return 1
  fi
}

# CPU time a process has used so far, in clock ticks (user + system).
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# Counts WINDOW's frames over the given seconds; prints the frames per
# second, from the X server's time stamps (milliseconds) of its title
# changes, and the CPU time per frame of the program and the X server
# together, in microseconds: a figure that a busy machine disturbs less,
# since time spent waiting for a core is not in it.
count_rate() {
  local seconds=$1 start end app0 app1 x0 x1 rate
  start=$(date +%s%N)
  app0=$(cpu_ticks "$APP_PID")
  x0=$(cpu_ticks "$XVFB_PID")
  # A program that sets its title every frame is counted by its changes; one
  # that shows a rate averaged over about half a second (and sets the title
  # only when that text changes) is read from the rates it shows instead.
  timeout "$seconds" stdbuf -oL xprop -id "$WINDOW" -spy WM_NAME >"$logs/titles" 2>/dev/null &
  local spy=$!
  rate=$(timeout "$seconds" xev -id "$WINDOW" -event property 2>/dev/null |
    awk '/\(WM_NAME\)/ { t = $5; sub(/,/, "", t); if (n++ == 0) first = t; last = t }
         END { if (n > 1 && last > first) printf "%.0f\n", (n - 1) * 1000 / (last - first); else print "0" }')
  wait "$spy" 2>/dev/null
  if [ "$rate" -lt 50 ]; then
    rate=$(awk -F'FPS: ' 'NF > 1 { v = $2 + 0; if (v > 0) { sum += v; n++ } }
                          END { printf "%.0f\n", (n > 0 ? sum / n : 0) }' "$logs/titles")
  fi
  app1=$(cpu_ticks "$APP_PID")
  x1=$(cpu_ticks "$XVFB_PID")
  end=$(date +%s%N)
  awk -v rate="$rate" -v ticks=$((app1 - app0 + x1 - x0)) -v hz="$(getconf CLK_TCK)" -v ns=$((end - start)) \
    'BEGIN { frames = rate * ns / 1e9; printf "%d %.0f\n", rate, (frames > 0 ? ticks / hz * 1e6 / frames : 0) }'
}

# Which view the window shows: "stereo" when it holds colours off the grey
# ramp (the pattern's random entries), else "depth".
shown_view() {
  import -window "$WINDOW" -depth 8 "rgb:$logs/screen.rgb" 2>/dev/null || { echo unknown; return; }
  od -An -v -tu1 -w3 "$logs/screen.rgb" |
    awk '$1 != $2 || $2 != $3 { n++ } END { print (n > NR / 4 ? "stereo" : "depth") }'
}

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A rates cpus
for ((run = 0; run < runs; ++run)); do
  for view in depth stereo; do
    for i in "${!programs[@]}"; do
      program=${programs[$i]}
      start_view "$program" "$view" || exit 1
      read -r rate cpu < <(count_rate "$seconds")
      shown=$(shown_view)
      stop_view "$program" || exit 1
      if [ "$shown" != "$view" ]; then
        e2e_log "$program: asked for the $view view, the window showed the $shown view"
        exit 1
      fi
      rates[$i,$view]+="$rate "
      cpus[$i,$view]+="$cpu "
    done
  done
done

printf '%-40s %8s %8s %10s %10s   medians of %d counts of %d s\n' \
  program "depth" "stereo" "depth" "stereo" "$runs" "$seconds"
printf '%-40s %8s %8s %10s %10s\n' "" "fps" "fps" "CPU us/fr" "CPU us/fr"
for i in "${!programs[@]}"; do
  printf '%-40s %8s %8s %10s %10s\n' "${programs[$i]}" \
    "$(median <<<"${rates[$i,depth]}")" "$(median <<<"${rates[$i,stereo]}")" \
    "$(median <<<"${cpus[$i,depth]}")" "$(median <<<"${cpus[$i,stereo]}")"
  printf '%-40s   every count: fps depth %s, stereo %s; CPU us per frame depth %s, stereo %s\n' "" \
    "${rates[$i,depth]% }" "${rates[$i,stereo]% }" "${cpus[$i,depth]% }" "${cpus[$i,stereo]% }"
done
echo "(CPU us per frame: the program and the X server together)"

# Where the time of windowed stereogram frames goes: samples of the program
# and of the X server together, by process and library. Start-up is left
# out: the recording starts once the view is up.
if [ "$profile" -eq 1 ]; then
  for program in "${programs[@]}"; do
    start_view "$program" stereo || exit 1
    perf record -F 999 -o "$logs/perf.data" -p "$APP_PID,$XVFB_PID" -- sleep "$seconds" >/dev/null 2>&1
    stop_view "$program" || exit 1
    echo
    echo "$program, stereogram view: share of samples by process and library"
    perf report -i "$logs/perf.data" --sort comm,dso --stdio 2>/dev/null | grep -E '^ +[0-9.]+%' | head -n 14
    echo "  busiest functions:"
    perf report -i "$logs/perf.data" --sort comm,dso,symbol --stdio 2>/dev/null | grep -E '^ +[0-9.]+%' | head -n 8
  done
fi
