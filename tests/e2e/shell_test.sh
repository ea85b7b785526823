#!/usr/bin/env bash
# The demo in a real window: the banner and key help on standard output, the
# frame rate in the title, P pausing the clock (rate 0.0000), Escape ending
# the program with status 0.
# Usage: bash shell_test.sh <path-to-tolvane>
set -uo pipefail
source "$(dirname "$0")/libxvfb.sh"

program=${1:?usage: shell_test.sh <path-to-tolvane>}
# A frame-count limit from the caller would end the run before the keys.
unset TOLVANE_EXIT_AFTER_FRAMES
e2e_require Xvfb xdotool
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

xvfb_start
work=$(e2e_tempdir)
logs=$(e2e_tempdir)
e2e_start_app "$work" "$logs/out" "$logs/err" "$program"

if ! window=$(wait_for_window "$prefix" 30); then
  e2e_log "no window titled \"$prefix...\"; stderr: $(cat "$logs/err")"
  exit 1
fi

# The banner is flushed by its last line, before the first frame.
twelve_lines() { [ "$(wc -l <"$logs/out")" -ge 12 ]; }
wait_until 10 twelve_lines || e2e_fail "fewer than 12 lines on stdout"
[ "$(cat "$logs/out")" = "$banner" ] || e2e_fail "banner differs: $(cat -A "$logs/out")"

title=$(window_title "$window")
[[ "$title" =~ ^"$prefix"-?[0-9]+(\.[0-9]{0,4})?$ ]] || e2e_fail "running title: \"$title\""

# Paused, every frame lasts 0 s and the rate reads 0.0000.
send_key "$window" p
wait_for_title "$window" "${prefix}0.0000" 10 || e2e_fail "paused title: \"$(window_title "$window")\""

send_key "$window" Escape
if wait_for_exit "$APP_PID" 10; then
  [ "$APP_STATUS" -eq 0 ] || e2e_fail "exit status $APP_STATUS after Escape"
else
  e2e_fail "still running 10 s after Escape"
fi
[ -z "$(ls -A "$work")" ] || e2e_fail "files left in the working folder: $(ls -A "$work")"

e2e_finish
