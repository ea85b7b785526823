#!/usr/bin/env bash
# The demo in a real window on a 1920 x 1080 screen. First run: a world named
# by a relative path from another folder, its images read beside it; the
# window enlarged twice; the banner on standard output; the frame rate in
# the title; K saving the depths in the working folder; a drag moving the
# world by surface pixels, so it follows the mouse; P pausing (rate 0.0000);
# Escape ending with status 0. Second run: --scale 1 and --max-fps, a
# 640 x 480 window, the title's rate within a factor of two of the frames
# actually drawn.
# Usage: bash shell_test.sh <path-to-tolvane>
set -uo pipefail
source "$(dirname "$0")/libxvfb.sh"

program=${1:?usage: shell_test.sh <path-to-tolvane>}
# A frame-count limit from the caller would end the run before the keys.
unset TOLVANE_EXIT_AFTER_FRAMES
# The window size under test is the program's own choice.
unset SDL12COMPAT_WINDOW_SCALING
e2e_require Xvfb xdotool od awk
[ -x "$program" ] || { e2e_log "not a program: $program"; exit 1; }

prefix="Tolvane Engine Demo - By Harwick - FPS: "
banner='Tolvane Engine Demo - By Harwick

Keys:
S - toggle SIRD mode
R - toggle constant random frames
C - turn on multi colours (looks bad in nonSIRD mode)
G - turn to grey scale (turn on when not in SIRD mode to see depthmap
P - pause time
K - kapture screen shot (sorry '"'C'"' was taken)
I - switch between logo rendering styles
Esc - exit
LSize = 15'

# "WIDTHxHEIGHT" of a window's inside.
window_size() { xdotool getwindowgeometry "$1" 2>/dev/null | awk '/Geometry:/ { print $2 }'; }

xvfb_start 1920x1080x24
work=$(e2e_tempdir)
logs=$(e2e_tempdir)
lake=$(e2e_tempdir)

# The world and its image live elsewhere; the image sits in a subfolder
# named relative to the world file. A file of the same name in the working
# folder must not be the one read.
mkdir -p "$lake/art"
printf '4 3\n5555\n5AA5\n5555\n' >"$lake/art/block.txt"
mkdir -p "$work/art"
printf '1 1\nU\n' >"$work/art/block.txt"
cat >"$lake/lake.xml" <<'XML'
<World>
  <image type="scene" name="block" file="art/block.txt" />
  <element type="scene" imagename="block" x="10" y="20" />
</World>
XML
e2e_start_app "$work" "$logs/out" "$logs/err" "$program" "../$(basename "$lake")/lake.xml"

if ! window=$(wait_for_window "$prefix" 30); then
  e2e_log "no window titled \"$prefix...\"; stderr: $(cat "$logs/err")"
  exit 1
fi

# The banner is flushed by its last line, before the first frame.
twelve_lines() { [ "$(wc -l <"$logs/out")" -ge 12 ]; }
wait_until 10 twelve_lines || e2e_fail "fewer than 12 lines on stdout"
[ "$(cat "$logs/out")" = "$banner" ] || e2e_fail "banner differs: $(cat -A "$logs/out")"

# 640 x 2 by 480 x 2 fits 1920 x 1080; x 3 would not.
[ "$(window_size "$window")" = "1280x960" ] || e2e_fail "window is $(window_size "$window"), not 1280x960"

title=$(window_title "$window")
[[ "$title" =~ ^"$prefix"[0-9]+(\.[0-9]{1,4})?$ ]] || e2e_fail "running title: \"$title\""

# The scene on rows 20..22 (band 1) shows one level above its file.
expected_still='10 20 6
11 20 6
12 20 6
13 20 6
10 21 6
11 21 12
12 21 12
13 21 6
10 22 6
11 22 6
12 22 6
13 22 6'
take_screenshot
[ "$(cat "$logs/got")" = "$expected_still" ] || e2e_fail "depths before the drag:"$'\n'"$(cat "$logs/got")"
[ ! -e "$lake/screenshot.bmp" ] || e2e_fail "screenshot.bmp was saved beside the world, not in the working folder"

# The pointer moves (+60, +90) window pixels, which is (+30, +45) surface
# pixels: the world moves that much and, three bands lower, three levels
# nearer.
xdotool mousemove --window "$window" 200 200 mousedown 1 mousemove --window "$window" 260 290 mouseup 1
expected_dragged='40 65 9
41 65 9
42 65 9
43 65 9
40 66 9
41 66 15
42 66 15
43 66 9
40 67 9
41 67 9
42 67 9
43 67 9'
take_screenshot
[ "$(cat "$logs/got")" = "$expected_dragged" ] || e2e_fail "depths after the drag:"$'\n'"$(cat "$logs/got")"

# Paused, the rate reads 0.0000.
send_key "$window" p
wait_for_title "$window" "${prefix}0.0000" 10 || e2e_fail "paused title: \"$(window_title "$window")\""

send_key "$window" Escape
if wait_for_exit "$APP_PID" 10; then
  [ "$APP_STATUS" -eq 0 ] || e2e_fail "exit status $APP_STATUS after Escape"
else
  e2e_fail "still running 10 s after Escape"
fi
[ "$(ls -A "$work")" = "$(printf 'art\nscreenshot.bmp')" ] || e2e_fail "working folder holds: $(ls -A "$work")"
[ ! -s "$logs/err" ] || e2e_fail "stderr: $(cat "$logs/err")"

# Second run: a fixed number of frames under a cap, the title read halfway.
frames=150
cap=50
export TOLVANE_EXIT_AFTER_FRAMES=$frames
e2e_start_app "$work" "$logs/out2" "$logs/err2" "$program" --scale 1 --max-fps $cap "../$(basename "$lake")/lake.xml"
unset TOLVANE_EXIT_AFTER_FRAMES
if window=$(wait_for_window "$prefix" 30); then
  # The window shows with the first frame: time from there, not from a
  # start-up that a busy machine may drag out.
  started=$(date +%s.%N)
  [ "$(window_size "$window")" = "640x480" ] || e2e_fail "--scale 1 window is $(window_size "$window")"
  sleep 1.5
  title=$(window_title "$window")
else
  e2e_fail "no window in the capped run; stderr: $(cat "$logs/err2")"
  title=""
  started=$(date +%s.%N)
fi
if wait_for_exit "$APP_PID" 30; then
  [ "$APP_STATUS" -eq 0 ] || e2e_fail "capped run ended with status $APP_STATUS"
else
  e2e_fail "capped run still going after 30 s"
fi
ended=$(date +%s.%N)
shown=${title#"$prefix"}
# Frames actually drawn per second. The cap lets $frames frames take no less
# than ($frames - 1) / $cap seconds, less the polling that found the window.
verdict=$(awk -v n="$frames" -v cap="$cap" -v a="$started" -v b="$ended" -v shown="$shown" 'BEGIN {
  elapsed = b - a; drawn = n / elapsed
  if (elapsed < 0.9 * (n - 1) / cap) { printf "%d frames took %.2f s: the cap of %d was not kept\n", n, elapsed, cap; exit }
  if (shown + 0 <= 0 || shown + 0 > 2 * drawn || shown + 0 < drawn / 2) {
    printf "title shows %s frames a second, %.1f were drawn\n", shown, drawn; exit
  }
}')
[ -z "$verdict" ] || e2e_fail "$verdict"

e2e_finish
