#!/usr/bin/env bash
# Takes the AppStream screenshots from the real program on a private display:
#   packaging/take-screenshots.sh [build folder]   writes packaging/screenshots/*.png
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
exec "$here/tests/env/with-env.sh" --screen 1280x720 -- bash -c '
  set -u
  shots=$1/packaging/screenshots
  mkdir -p "$shots"
  wait_for() { for _ in $(seq 100); do xdotool search --name "$1" >/dev/null 2>&1 && return 0; sleep 0.1; done; return 1; }
  "$2/app/TorvaneRecorder" >/dev/null 2>&1 & app=$!
  trap "kill $app 2>/dev/null" EXIT
  wait_for "^Torvane Live Screen Recorder" || { echo "no recorder window" >&2; exit 1; }
  sleep 1
  wid=$(xdotool search --name "^Torvane Live Screen Recorder" | head -n1)
  import -window "$wid" "$shots/recorder-window.png"
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  xdotool mousemove $((X + WIDTH / 8)) $((Y + 20)) click 1
  wait_for "^Movie Properties" || { echo "no movie properties" >&2; exit 1; }
  sleep 1
  import -window "$(xdotool search --name "^Movie Properties" | head -n1)" "$shots/movie-properties.png"
  echo "$shots"' shots "$here" "$here/$build"
