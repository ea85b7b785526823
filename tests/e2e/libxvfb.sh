# Shared helpers for end-to-end tests that drive the real program in a real
# window under a private Xvfb. Source it from a *_test.sh script:
#
#   source "$(dirname "$0")/libxvfb.sh"
#   e2e_require Xvfb xdotool          # exit 77 (skipped) when a tool is missing
#   xvfb_start                        # private X server, DISPLAY exported
#   work=$(e2e_tempdir)               # removed at exit
#   e2e_start_app "$work" "$out" "$err" "$program" [args...]   # sets APP_PID
#   win=$(wait_for_window "Tolvane Engine Demo - By Harwick - FPS: " 20)
#   send_key "$win" p
#   wait_for_title "$win" "expected title" 10
#   wait_for_exit "$APP_PID" 10; echo "status $APP_STATUS"
#
# Everything started through these helpers (the X server, the program) is
# ended and every temporary folder removed when the script exits, however it
# exits. Waits poll with a deadline instead of sleeping a fixed time.

E2E_PIDS=()
E2E_FAILURES=0
XVFB_PID=""
APP_PID=""
APP_STATUS=""
# Temporary paths are listed in a file, since e2e_tempdir runs in a
# command substitution's subshell.
E2E_TEMP_LIST=$(mktemp "${TMPDIR:-/tmp}/tolvane_e2e_list.XXXXXX")

e2e_cleanup() {
  local pid path
  for pid in "${E2E_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${E2E_PIDS[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  if [ -f "$E2E_TEMP_LIST" ]; then
    while IFS= read -r path; do
      [ -n "$path" ] && rm -rf -- "$path"
    done <"$E2E_TEMP_LIST"
    rm -f -- "$E2E_TEMP_LIST"
  fi
}
trap e2e_cleanup EXIT
trap 'exit 130' INT TERM

# Records a process to be ended at exit.
e2e_track_pid() { E2E_PIDS+=("$1"); }

# Prints a new temporary folder, removed at exit: `dir=$(e2e_tempdir)`.
e2e_tempdir() {
  local dir
  dir=$(mktemp -d "${TMPDIR:-/tmp}/tolvane_e2e.XXXXXX")
  echo "$dir" >>"$E2E_TEMP_LIST"
  echo "$dir"
}

e2e_log() { printf '%s\n' "$*" >&2; }

# Counts a failed check and says why; the script goes on so one run reports
# every failure. End the script with `e2e_finish`.
e2e_fail() {
  E2E_FAILURES=$((E2E_FAILURES + 1))
  e2e_log "FAIL: $*"
}

e2e_finish() {
  if [ "$E2E_FAILURES" -ne 0 ]; then
    e2e_log "$E2E_FAILURES check(s) failed"
    exit 1
  fi
  e2e_log "all checks passed"
  exit 0
}

# Exits with 77 (skipped) unless every named tool is installed.
e2e_require() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      e2e_log "SKIP: $tool is not installed"
      exit 77
    fi
  done
}

# Polls a command every 0.1 s until it succeeds or the seconds run out.
wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      return 1
    fi
    sleep 0.1
  done
}

# Starts a private X server on a free display (Xvfb picks it and reports it
# through -displayfd) and exports DISPLAY. Optional argument: the screen
# geometry, 800x600x24 by default.
xvfb_start() {
  local geometry=${1:-800x600x24}
  local numberFile
  numberFile=$(mktemp "${TMPDIR:-/tmp}/tolvane_xvfb.XXXXXX")
  echo "$numberFile" >>"$E2E_TEMP_LIST"
  Xvfb -displayfd 3 -screen 0 "$geometry" -nolisten tcp -noreset 3>"$numberFile" 2>/dev/null &
  XVFB_PID=$!
  e2e_track_pid "$XVFB_PID"
  if ! wait_until 20 grep -q '^[0-9][0-9]*$' "$numberFile"; then
    e2e_log "Xvfb did not start"
    exit 1
  fi
  export DISPLAY=":$(head -n 1 "$numberFile")"
  if command -v xdpyinfo >/dev/null 2>&1; then
    wait_until 10 xdpyinfo >/dev/null 2>&1 || true
  fi
}

# Starts a program in a working folder with its standard output and error
# sent to files; sets APP_PID. SDL is sent to the X server, whatever the
# caller's environment says.
e2e_start_app() {
  local work=$1 out=$2 err=$3
  shift 3
  # The program runs in another folder: a relative program path must not
  # change meaning.
  if [[ "$1" == */* && "$1" != /* ]]; then
    set -- "$PWD/$1" "${@:2}"
  fi
  (cd "$work" && exec env -u SDL_VIDEODRIVER "$@" </dev/null >"$out" 2>"$err") &
  APP_PID=$!
  e2e_track_pid "$APP_PID"
}

# Prints the id of the first visible window whose title starts with the
# given text, waiting up to the given seconds; gives up at once when the
# program started by e2e_start_app has ended.
wait_for_window() {
  local prefix=$1 seconds=${2:-20}
  local pattern id
  # xdotool matches names as regular expressions: escape the prefix.
  pattern="^$(printf '%s' "$prefix" | sed 's/[][\.*^$+?(){}|/]/\\&/g')"
  local deadline=$((SECONDS + seconds))
  while :; do
    id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then
      printf '%s\n' "$id"
      return 0
    fi
    if [ -n "$APP_PID" ] && ! kill -0 "$APP_PID" 2>/dev/null; then
      e2e_log "the program ended before its window appeared"
      return 1
    fi
    if [ "$SECONDS" -ge "$deadline" ]; then
      return 1
    fi
    sleep 0.1
  done
}

window_title() { xdotool getwindowname "$1" 2>/dev/null; }

# Waits until the window's title equals the text.
wait_for_title() {
  local window=$1 expected=$2 seconds=${3:-10}
  title_is() { [ "$(window_title "$window")" = "$expected" ]; }
  wait_until "$seconds" title_is
}

# Gives the window the keyboard focus and types the keys (xdotool key names:
# p, Escape, shift+s, ...) through the XTEST extension, as a user would.
send_key() {
  local window=$1
  shift
  xdotool windowfocus "$window" 2>/dev/null || true
  xdotool key --delay 30 "$@"
}

# Waits for a process started by e2e_start_app to end; sets APP_STATUS to its
# exit status, or returns 1 when it is still running after the given seconds.
wait_for_exit() {
  local pid=$1 seconds=${2:-10}
  gone() { ! kill -0 "$pid" 2>/dev/null; }
  if ! wait_until "$seconds" gone; then
    return 1
  fi
  APP_STATUS=0
  wait "$pid" || APP_STATUS=$?
}

# Saves a picture of the whole screen, or of one window, as PNG (needs
# ImageMagick's import).
xvfb_screenshot() {
  local file=$1 window=${2:-root}
  import -window "$window" "$file"
}

# Prints a bitmap's depths (first byte of each pixel >> 3) as one line of
# space-separated values per row, top row first. Reads the header itself, so
# it needs nothing beyond od and awk.
bmp_depths() {
  local file=$1 offset width height bpp rowBytes
  offset=$(od -An -tu4 -j10 -N4 "$file" | tr -d ' ')
  width=$(od -An -td4 -j18 -N4 "$file" | tr -d ' ')
  height=$(od -An -td4 -j22 -N4 "$file" | tr -d ' ')
  bpp=$(od -An -tu2 -j28 -N2 "$file" | tr -d ' ')
  rowBytes=$(( (width * bpp + 31) / 32 * 4 ))
  od -An -v -tu1 -j"$offset" -w"$rowBytes" "$file" |
    awk -v w="$width" -v step=$((bpp / 8)) '
      NF > 0 { line = ""; for (x = 0; x < w; x++) line = line (x ? " " : "") int($(x * step + 1) / 8); rows[n++] = line }
      END { for (i = 0; i < n; i++) print rows[i] }' |
    if [ "$height" -gt 0 ]; then tac; else cat; fi
}

# The non-zero depths as "x y depth" lines, row by row.
nonzero() { awk '{ for (i = 1; i <= NF; i++) if ($i != 0) print i - 1, NR - 1, $i }'; }

# Presses K in $window and waits for a fresh screenshot in $work; its depths
# go to $logs/depths and the non-zero ones to $logs/got.
take_screenshot() {
  rm -f "$work/screenshot.bmp"
  : >"$logs/got"
  send_key "$window" k
  if ! wait_until 10 test -s "$work/screenshot.bmp"; then
    e2e_fail "no screenshot.bmp after K"
    return 1
  fi
  bmp_depths "$work/screenshot.bmp" >"$logs/depths"
  [ "$(wc -l <"$logs/depths")" -eq 480 ] || e2e_fail "screenshot has $(wc -l <"$logs/depths") rows"
  [ "$(awk '{ print NF }' "$logs/depths" | sort -u)" = "640" ] || e2e_fail "screenshot rows are not 640 wide"
  nonzero <"$logs/depths" >"$logs/got"
}
