#!/usr/bin/env bash
# Webcam benchmark, in one run on the test environment's virtual camera (tests/env/with-env.sh --camera):
#   1. webcam only, 640x480 at 24 fps: positions filled and CPU seconds per recorded second;
#   2. a 1280x720 screen recording at 24 fps with the same moving desktop, without and with the
#      webcam shown over it: the extra CPU of the picture in picture.
#   bench/webcam.sh [build folder] [seconds, default 20]   (also BENCH_PART=webcam bench/run.sh)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-20}
[ -x "$build/tools/torvane-record" ] && [ -x "$build/bench/desktop-animator" ] || { echo "build first: scripts/setup.sh" >&2; exit 1; }

"$here/tests/env/with-env.sh" --no-sound --camera --screen 1280x720 -- bash -c '
  set -u
  build=$1; seconds=$2; out=$TORVANE_TEST_ENV; cam=$TORVANE_CAMERA_NAME
  # One recording: "LABEL CPU-per-second packets non-empty expected" on standard output.
  record() {   # LABEL FPS options...
    local label=$1 fps=$2; shift 2
    /usr/bin/time -f "%U %S" -o "$out/$label.time" "$build/tools/torvane-record" --out "$out/$label.avi" \
      --seconds "$seconds" --sound off "$@" 2>"$out/$label.log"
    local status=$?
    read -r u s < "$out/$label.time"
    # Every position is a chunk: a picture, or an empty entry where nothing changed.
    local sizes; sizes=$(ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 "$out/$label.avi")
    local packets; packets=$(grep -c . <<<"$sizes")
    local pictures; pictures=$(awk "\$1>0{n++} END{print n+0}" <<<"$sizes")
    local gst; gst=$(gst-discoverer-1.0 "$out/$label.avi" 2>/dev/null | awk "/Duration/{print \$2; exit}")
    printf "%-16s status %d  CPU/s %.4f  positions %d of %d (%.1f%%)  pictures %d  duration (GStreamer) %s\n" \
      "$label" "$status" "$(awk -v u="$u" -v s="$s" -v t="$seconds" "BEGIN{print (u+s)/t}")" "$packets" \
      "$((seconds * fps))" "$(awk -v a="$packets" -v b="$((seconds * fps))" "BEGIN{print 100*a/b}")" "$pictures" "$gst"
    [ "$status" = 0 ] || sed "s/^/  /" "$out/$label.log"
  }
  echo "load before: $(cut -d" " -f1-3 /proc/loadavg) on $(nproc) cores; $seconds s a recording; camera \"$cam\""
  record webcam-640x480 24 --source webcam --webcam "$cam" --webcam-size 640x480
  "$build/bench/desktop-animator" motion & anim=$!
  sleep 1
  record screen-720p 24 --source full --fps 24 --pip off
  record screen-720p+pip 24 --source full --fps 24 --pip on --pip-pos 4 --webcam "$cam" --webcam-size 320x240
  kill $anim; wait $anim 2>/dev/null
  echo "load after: $(cut -d" " -f1-3 /proc/loadavg)"
' bench "$build" "$seconds"
