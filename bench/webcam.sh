#!/usr/bin/env bash
# Webcam benchmark, in one run on the test environment's virtual camera (tests/env/with-env.sh --camera):
#   0. the camera path alone, 640x480 at 24 fps (capture, conversion to BGR, copy into the frame
#      slot; no encoder): CPU of this process per second and by thread;
#   1. webcam only, 640x480 at 24 fps: positions filled and CPU seconds per recorded second;
#   2. a 1280x720 screen recording at 24 fps with the same moving desktop, without and with the
#      webcam shown over it: the extra CPU of the picture in picture.
#   bench/webcam.sh [build folder] [seconds, default 20]   (also BENCH_PART=webcam bench/run.sh)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-20}
[ -x "$build/tools/torvane-record" ] && [ -x "$build/bench/desktop-animator" ] && [ -x "$build/bench/camera-path" ] || { echo "build first: scripts/setup.sh" >&2; exit 1; }

"$here/tests/env/with-env.sh" --no-sound --camera --screen 1280x720 -- bash -c '
  set -u
  build=$1; seconds=$2; fresh=$3; out=$TORVANE_TEST_ENV; cam=$TORVANE_CAMERA_NAME
  # One recording: one line of figures, and the warnings of the tool. Each program waits for a
  # camera no program has used yet (the test camera is replaced after each).
  record() {   # LABEL FPS options...
    local label=$1 fps=$2; shift 2
    "$fresh" /usr/bin/time -f "%U %S" -o "$out/$label.time" "$build/tools/torvane-record" --out "$out/$label.avi" \
      --seconds "$seconds" --sound off "$@" 2>"$out/$label.log"
    local status=$?
    # time puts "Command exited with non-zero status N" first when it did.
    read -r u s < <(tail -n1 "$out/$label.time")
    # Filled positions: a picture, or an empty entry where nothing changed, written in time (the
    # closing line of the tool); late positions repeat the picture before them.
    local summary; summary=$(grep -E " recorded, [0-9]+ frames written" "$out/$label.log" | tail -n1)
    local written; written=$(sed -E "s/.* ([0-9]+) frames written.*/\1/" <<<"$summary")
    local unchanged; unchanged=$(sed -E "s/.* ([0-9]+) unchanged.*/\1/" <<<"$summary")
    local late; late=$(sed -E "s/.* ([0-9]+) late.*/\1/" <<<"$summary")
    local expected=$((seconds * fps))
    # The two readers: ffmpeg counts the pictures, GStreamer gives the length.
    local pictures; pictures=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
      -of csv=p=0 "$out/$label.avi")
    local gst; gst=$(gst-discoverer-1.0 "$out/$label.avi" 2>/dev/null | awk "/Duration/{print \$2; exit}")
    printf "%-16s status %d  CPU/s %.4f  filled %d of %d (%.1f%%)  late %d  pictures (ffprobe) %s  length (GStreamer) %s\n" \
      "$label" "$status" "$(awk -v u="$u" -v s="$s" -v t="$seconds" "BEGIN{print (u+s)/t}")" \
      "$((written + unchanged))" "$expected" "$(awk -v a="$((written + unchanged))" -v b="$expected" "BEGIN{print 100*a/b}")" \
      "$late" "$pictures" "$gst"
    grep -E "warning|lost" "$out/$label.log" | sed "s/^/  /"
  }
  echo "load before: $(cut -d" " -f1-3 /proc/loadavg) on $(nproc) cores; $seconds s a recording; camera \"$cam\""
  "$fresh" "$build/bench/camera-path" "$cam" 640x480 24 "$seconds"
  record webcam-640x480 24 --source webcam --webcam "$cam" --webcam-size 640x480
  "$build/bench/desktop-animator" motion & anim=$!
  sleep 1
  record screen-720p 24 --source full --fps 24 --pip off
  record screen-720p+pip 24 --source full --fps 24 --pip on --pip-pos 4 --webcam "$cam" --webcam-size 320x240
  kill $anim; wait $anim 2>/dev/null
  echo "load after: $(cut -d" " -f1-3 /proc/loadavg)"
' bench "$build" "$seconds" "$here/tests/env/camera-fresh.sh"
