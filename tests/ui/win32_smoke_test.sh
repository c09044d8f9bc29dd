#!/bin/bash
# win32_smoke_test.sh PROGRAM IMAGE SCREENSHOT
# A whole update through kfwupdate-gui.exe under Wine, driven as a user drives it, with the
# keyboard: the simulated module chosen in both lists, Connect, IMAGE typed into the open-file
# dialog, Update, the success box, Exit. Saves a picture of the connected main window as
# SCREENSHOT. Needs an X display (run it through with_display.sh), wine, xdotool and ImageMagick's
# import; fails, saying why, when one is missing. Every wait polls against a deadline; the whole
# run takes well under two minutes.
set -u

program=$1
image=$2
screenshot=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

for tool in wine winepath xdotool import; do
  command -v "$tool" >/dev/null 2>&1 ||
    fail "$tool is missing (Debian packages: wine, xdotool, imagemagick)"
done
[ -n "${DISPLAY:-}" ] || fail "no X display: run this through with_display.sh"
[ -f "$program" ] || fail "$program has not been built"
[ -f "$image" ] || fail "$image is missing"

# Window titles, whole: the question box's caption is the start of the main window's title.
main_title='Korvex Firmware Update Utility - V1.03b'
success_title='Firmware Firmware Update Utility'
error_title='Korvex Firmware Update Utility Error'
question_title='Korvex Firmware Update Utility'
chooser_title='Korvex Firmware Update Utility file selector'

export WINEDEBUG=${WINEDEBUG:--all}
log=$(mktemp)
ended=$(mktemp)
# The status goes to a file: the waits run in subshells, which cannot wait for this process.
(
  wine "$program" --simulator >"$log" 2>&1
  echo "$?" >"$ended"
) &
program_pid=$!
cleanup() {
  if kill -0 "$program_pid" 2>/dev/null; then
    kill "$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
  fi
  rm -f "$log" "$ended"
}
trap cleanup EXIT

# The first window with exactly this title.
find_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1
}

# Waits up to $2 seconds for a window titled $1 and prints its id. An error box instead fails
# the test at once: its caption says the step went wrong.
wait_for_window() {
  local title=$1 deadline=$(($(date +%s) + $2)) id
  while :; do
    id=$(find_window "$title")
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    if [ "$title" != "$error_title" ] && [ -n "$(find_window "$error_title")" ]; then
      fail "an error box (\"$error_title\") came while waiting for \"$title\""
    fi
    if [ -s "$ended" ]; then
      fail "the program ended (status $(cat "$ended")) while waiting for \"$title\": $(cat "$log")"
    fi
    [ "$(date +%s)" -lt "$deadline" ] || fail "no window \"$title\" within $2 s"
    sleep 0.2
  done
}

# Waits up to 20 seconds for the window $1, titled $2, to go.
wait_until_gone() {
  local deadline=$(($(date +%s) + 20))
  while xdotool search --onlyvisible --name "^$2\$" 2>/dev/null | grep -qx "$1"; do
    [ "$(date +%s)" -lt "$deadline" ] || fail "\"$2\" did not go within 20 s"
    sleep 0.2
  done
}

# Keys go to the window that has the X focus. Without a window manager nothing gives it, so it is
# given here; Wine then activates the window and its dialog's focused control gets the keys.
keys_to() {
  local window=$1
  shift
  xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
  sleep 0.3
  xdotool key --clearmodifiers --delay 80 "$@"
}

# A cold Wine prefix takes a while to set itself up.
main=$(wait_for_window "$main_title" 90) || exit 1
echo "main window $main"

# The focus starts in the name field (the buttons before it are disabled). The last entry of each
# list is the simulated module, which is listed after every other port.
downs=$(printf 'Down %.0s' $(seq 1 30))
# shellcheck disable=SC2086
keys_to "$main" Tab $downs Tab $downs
# Back to Connect: "Receive from" -> "Transmit to" -> name field -> (Find image, disabled) -> Connect.
keys_to "$main" shift+Tab shift+Tab shift+Tab space

box=$(wait_for_window "$success_title" 30) || exit 1
echo "connected: box $box"
keys_to "$box" Return
wait_until_gone "$box" "$success_title"
sleep 0.5
import -window "$main" "$screenshot" || fail "could not take the screenshot $screenshot"
echo "screenshot $screenshot"

# Find image is the next tab stop after Connect, which has the focus again.
keys_to "$main" Tab space
chooser=$(wait_for_window "$chooser_title" 30) || exit 1
echo "file selector $chooser"
# The dialog's focus is in its file name field.
keys_to "$chooser" ctrl+a
xdotool type --delay 20 "$(winepath -w "$image")"
xdotool key Return
wait_until_gone "$chooser" "$chooser_title"

# Update is two tab stops back from Find image. An image the module already has would be
# questioned first; demo.kfw is newer than the simulated module's firmware.
keys_to "$main" shift+Tab shift+Tab space
deadline=$(($(date +%s) + 60))
while :; do
  box=$(find_window "$success_title")
  [ -n "$box" ] && break
  question=$(find_window "$question_title")
  [ -n "$question" ] && fail "the update asked \"$question_title\": the module already had this image"
  [ -n "$(find_window "$error_title")" ] && fail "the update ended with an error box"
  kill -0 "$program_pid" 2>/dev/null || fail "the program ended during the update: $(cat "$log")"
  [ "$(date +%s)" -lt "$deadline" ] || fail "no success box within 60 s of Update"
  sleep 0.2
done
echo "updated: box $box"
keys_to "$box" Return
wait_until_gone "$box" "$success_title"

# Exit, one tab stop back from Update (the order wraps round): the program ends with status 0.
keys_to "$main" shift+Tab space
deadline=$(($(date +%s) + 30))
while kill -0 "$program_pid" 2>/dev/null; do
  [ "$(date +%s)" -lt "$deadline" ] || fail "the program did not end within 30 s of Exit"
  sleep 0.2
done
wait "$program_pid"
status=$(cat "$ended")
[ "$status" = 0 ] || fail "the program ended with status $status: $(cat "$log")"
echo "PASS"
