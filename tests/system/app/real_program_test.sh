#!/usr/bin/env bash
# The real program, driven as a user would: New... -> OK, Start, the countdown, hidden in the tray
# while recording, Ctrl+Alt+S, the review question, Close and the feedback question.
#   real_program_test.sh PROGRAM   (inside tests/env/with-env.sh --tray)
set -u
program=$1
fail() { echo "FAIL: $*"; echo "0 passed, 1 failed"; kill "$app" 2>/dev/null; exit 1; }
title_is() { xdotool search --name "^$1" >/dev/null 2>&1; }
wait_for() {   # seconds, command...
  local t=$1; shift
  for _ in $(seq $((t * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}

"$program" >"$TORVANE_TEST_ENV/app.log" 2>&1 & app=$!
wait_for 10 title_is "Torvane Live Screen Recorder 1.2" || fail "the recorder window did not appear"
wid=$(xdotool search --name "^Torvane Live Screen Recorder 1.2" | head -n1)
eval "$(xdotool getwindowgeometry --shell "$wid")"
# The four buttons share the top row: New... at 1/8 of the width, Start at 3/8.
xdotool mousemove $((X + WIDTH / 8)) $((Y + 20)) click 1
wait_for 5 title_is "Movie Properties" || fail "New... did not open the movie properties"
# A key reaches the dialog only once it has the input focus, which may come a moment after it shows.
focus_is() { [ "$(xdotool getwindowfocus getwindowname 2>/dev/null)" = "$1" ]; }
wait_for 10 focus_is "Movie Properties" || fail "the movie properties did not get the keyboard focus"
xdotool key Return
wait_for 5 title_is "Recorder Ready" || fail "OK did not make the recorder ready"
xdotool mousemove $((X + 3 * WIDTH / 8)) $((Y + 20)) click 1
wait_for 10 title_is "Now Recording" || fail "recording did not start after the countdown"
sleep 2
kill -0 "$app" 2>/dev/null || fail "the program ended while hidden in the notification area"
xdotool key ctrl+alt+s
wait_for 5 bash -c 'xdotool search --name "." getwindowname %@ 2>/dev/null | grep -q "^Torvane Live Screen Recorder 1.2"' ||
  fail "Ctrl+Alt+S did not stop the recording"
sleep 0.5
xdotool key Escape   # "No" to the review question
file="$XDG_DOCUMENTS_DIR/unitled.avi"
[ -s "$file" ] || fail "no recording at $file"
errors=$(ffmpeg -nostdin -v error -i "$file" -f null - 2>&1)
[ -z "$errors" ] || fail "the recording does not decode: $errors"
ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$file" | grep -q h264 || fail "no H.264 stream"
ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$file" | grep -q pcm_s16le || fail "no sound stream"
sleep 0.3
xdotool key Escape   # close the recorder: the feedback question follows
wait_for 5 title_is "We need your feedback." || fail "no feedback question at close"
kill -0 "$app" 2>/dev/null || fail "the program ended before the feedback question was answered"
xdotool key Escape
wait_for 5 bash -c "! kill -0 $app 2>/dev/null" || fail "the program did not end after the feedback question"
echo "1 passed, 0 failed"
