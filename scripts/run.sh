#!/usr/bin/env bash
# Builds the recorder and starts it on the desktop. Without a display, makes a demonstration
# recording on a private virtual display and sound server with the headless front end.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh" build

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$here/build/app/TorvaneRecorder"
fi

out="$here/out/demo.avi"
mkdir -p "$here/out"
echo "No display: recording a 10-second demonstration on a private display." >&2
"$here/tests/env/with-env.sh" --screen 1280x720 -- bash -c '
  "$1/build/bench/desktop-animator" & anim=$!
  sleep 0.5
  "$1/build/tools/torvane-record" --out "$2" --seconds 10 --fps 15 --cursor rectangle --sound both
  rc=$?
  kill $anim 2>/dev/null; wait $anim 2>/dev/null
  exit $rc' demo "$here" "$out"
echo
echo "Recorded: $out"
ffprobe -v error -show_entries stream=codec_type,codec_name,codec_tag_string,width,height,r_frame_rate,sample_rate,channels,duration \
  -of compact=p=0 "$out"
