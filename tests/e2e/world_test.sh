#!/usr/bin/env bash
# The real program in a folder holding a small hand-made world: K saves the
# composited depths as "screenshot.bmp", a mouse drag moves the camera (and,
# crossing 15-row bands, the depths), S shows a stereogram of those depths,
# a problem in the world is told on stderr, and Escape ends with status 0.
# Usage: bash world_test.sh <path-to-tolvane>
set -uo pipefail
source "$(dirname "$0")/libxvfb.sh"

program=${1:?usage: world_test.sh <path-to-tolvane>}
unset TOLVANE_EXIT_AFTER_FRAMES
e2e_require Xvfb xdotool import od awk
[ -x "$program" ] || { e2e_log "not a program: $program"; exit 1; }

work=$(e2e_tempdir)
logs=$(e2e_tempdir)

# A 4 x 3 scene and a one-frame 2 x 2 sprite, plus an element that names no
# image. Depth characters: "5" is 5, "A" is 11, "K" is 21.
printf '4 3\n5555\n5AA5\n5555\n' >"$work/block.txt"
printf '2 2\nKK\nKK\n' >"$work/dot.txt"
cat >"$work/world.xml" <<'EOF'
<World>
  <image type="scene" name="block" file="block.txt" />
  <image type="sprite" name="dot" file="dot.txt" sizex="2" sizey="2" />
  <element type="scene" imagename="block" x="10" y="20" />
  <element type="ani" imagename="dot" x="101" y="62" fps="4" startframe="0" />
  <element type="ani" imagename="nothing" x="0" y="0" fps="1" startframe="0" />
</World>
EOF

xvfb_start
e2e_start_app "$work" "$logs/out" "$logs/err" "$program"
if ! window=$(wait_for_window "Tolvane Engine Demo - By Harwick - FPS: " 30); then
  e2e_log "no window; stderr: $(cat "$logs/err")"
  exit 1
fi

# Camera (0, 0): the scene on rows 20..22 (band 1) shows one level above its
# file; the sprite's feet on row 61 (band 4) add 4 - 2.
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
13 22 6
100 60 23
101 60 23
100 61 23
101 61 23'
take_screenshot
got=$(cat "$logs/got")
[ "$got" = "$expected_still" ] || e2e_fail "depths at camera (0, 0):"$'\n'"$got"

# Drag by (+30, +45): everything moves by that much, and 45 rows is three
# bands, so the scene (rows 65..67, band 4) and the sprite (feet on row
# 106, band 7) both show three levels nearer.
xdotool mousemove --window "$window" 100 100 mousedown 1 mousemove --window "$window" 130 145 mouseup 1
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
43 67 9
130 105 26
131 105 26
130 106 26
131 106 26'
take_screenshot
got=$(cat "$logs/got")
[ "$got" = "$expected_dragged" ] || e2e_fail "depths after the drag:"$'\n'"$got"

# S: the screen becomes a stereogram of those depths. Left of the last 128
# columns each pixel repeats the colour 128 - d columns to its right, d being
# its depth; the dots themselves are random.
send_key "$window" s
sleep 0.5
if import -window "$window" -depth 8 "rgb:$logs/screen.rgb" 2>"$logs/import.err"; then
  od -An -v -tu1 -w1920 "$logs/screen.rgb" >"$logs/screen"
  verdict=$(awk '
    NR == FNR { for (x = 0; x < 640; x++) depth[FNR - 1, x] = $(x + 1); next }
    {
      y = FNR - 1
      for (x = 0; x < 640 - 128; x++) {
        d = depth[y, x]; r = x + 128 - d
        same = $(3 * x + 1) == $(3 * r + 1) && $(3 * x + 2) == $(3 * r + 2) && $(3 * x + 3) == $(3 * r + 3)
        checked++; if (same) matched++
        colours[$(3 * x + 1) "," $(3 * x + 2) "," $(3 * x + 3)] = 1
      }
    }
    END { n = 0; for (c in colours) n++; printf "%d %d %d\n", checked, matched, n }' "$logs/depths" "$logs/screen")
  read -r checked matched colours <<<"$verdict"
  [ "$checked" -eq $((480 * 512)) ] || e2e_fail "captured screen is not 640 x 480 ($checked pixels checked)"
  [ $((matched * 1000)) -ge $((checked * 995)) ] || e2e_fail "only $matched of $checked pixels repeat at 128 - depth"
  [ "$colours" -ge 64 ] || e2e_fail "only $colours colours: no random dots on screen"
else
  e2e_fail "could not capture the window: $(cat "$logs/import.err")"
fi

send_key "$window" Escape
if wait_for_exit "$APP_PID" 10; then
  [ "$APP_STATUS" -eq 0 ] || e2e_fail "exit status $APP_STATUS after Escape"
else
  e2e_fail "still running 10 s after Escape"
fi

expected_err='world.xml: element 3 (ani "nothing"): no image named "nothing"; nothing is drawn'
[ "$(cat "$logs/err")" = "$expected_err" ] || e2e_fail "stderr: $(cat "$logs/err")"

e2e_finish
