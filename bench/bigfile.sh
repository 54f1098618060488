#!/usr/bin/env bash
# A recording past 4 GiB (several RIFF segments), read by the programs people use: its length in each,
# and a decode and conversions of its last seconds.
#   bench/bigfile.sh [build folder] [GiB, default 4.3]
# Screen-wide noise at the highest quality fills the file in minutes. Run by hand: it takes a few
# minutes of both cores and twice the file's size on disk.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
gib=${2:-4.3}
[ -x "$build/tools/torvane-record" ] && [ -x "$build/bench/desktop-animator" ] || { echo "build first: scripts/setup.sh" >&2; exit 1; }

"$here/tests/env/with-env.sh" --screen 1280x720 -- bash -c '
  set -u
  build=$1; gib=$2; out=$TORVANE_TEST_ENV
  f=$out/big.avi
  near() { awk -v a="$1" -v b="$2" -v d="$3" "BEGIN { exit !((a - b) <= d && (b - a) <= d) }"; }
  "$build/bench/desktop-animator" noise & anim=$!
  sleep 1
  start=$(date +%s)
  "$build/tools/torvane-record" --source full --fps 30 --quality 2 --cursor off --sound mic --out "$f" \
    >"$out/record.log" 2>&1 & rec=$!
  limit=$(awk -v g="$gib" "BEGIN { printf \"%.0f\", g * 1073741824 }")
  while kill -0 $rec 2>/dev/null && [ "$(stat -c %s "$f" 2>/dev/null || echo 0)" -lt "$limit" ]; do sleep 1; done
  kill -INT $rec; wait $rec; code=$?
  kill $anim; wait $anim 2>/dev/null
  echo "recorded in $(( $(date +%s) - start )) s, exit status $code: $(grep "wrote" "$out/record.log" | tail -1)"
  echo "file: $(stat -c %s "$f") bytes, $(grep -c "" <(grep -aob "AVIX" "$f" | head -100)) extra RIFF segments"
  seconds=$(sed -n "s/.*: \([0-9.]*\) s recorded.*/\1/p" "$out/record.log" | tail -1)
  v=$(ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 "$f")
  a=$(ffprobe -v error -select_streams a:0 -show_entries stream=nb_frames,sample_rate -of csv=p=0 "$f" |
      awk -F, "{ print \$2 / \$1 }")
  gd=$(gst-discoverer-1.0 "$f" 2>&1 | sed -n "s/^ *Duration: \([0-9]*\):\([0-9]*\):\([0-9.]*\).*/\1 \2 \3/p" | head -1 |
       awk "{ print \$1 * 3600 + \$2 * 60 + \$3 }")
  md=$(mpv --no-config --vo=null --ao=null --frames=1 --term-playing-msg="LENGTH=\${=duration}" "$f" 2>/dev/null |
       sed -n "s/^LENGTH=//p" | head -1)
  melt -quiet "$f" -consumer xml:"$out/big.mlt" >/dev/null 2>&1
  ml=$(sed -n "s/.*<property name=\"length\">\([0-9]*\)<.*/\1/p" "$out/big.mlt" | head -1)
  mi=$(mediainfo --Inform="Video;%FrameRate%|%FrameCount%" "$f")
  printf "%-28s %s\n" "recorded" "$seconds s" "ffprobe video / sound" "$v s / $a s" "GStreamer" "$gd s" "mpv" "$md s" \
    "melt" "$(awk -v n="${ml:-0}" "BEGIN { print n / 30 }") s" "mediainfo rate|pictures" "$mi"
  # Decoding all of it takes longer than recording it: the last 30 s are decoded, from a seek.
  t0=$(date +%s)
  ffmpeg -nostdin -v error -ss "$(awk -v v="$v" "BEGIN { print v - 30 }")" -i "$f" -f null - 2>"$out/decode.log"
  echo "ffmpeg decode of the last 30 s: $(( $(date +%s) - t0 )) s, $(grep -c "" "$out/decode.log") error lines"
  last=$(awk -v v="$v" "BEGIN { print v - 5 }")
  ffmpeg -nostdin -v error -y -ss "$last" -i "$f" "$out/last-ffmpeg.mp4"
  HandBrakeCLI -i "$f" --start-at "seconds:$last" --stop-at seconds:5 -o "$out/last-hb.mp4" >"$out/hb.log" 2>&1
  for c in last-ffmpeg last-hb; do
    echo "$c: video $(ffprobe -v error -select_streams v:0 -show_entries stream=duration,nb_frames -of csv=p=0 "$out/$c.mp4") (duration, pictures) of the last 5 s"
  done
  mkdir -p "$out/vlc/home"; ln "$f" "$out/vlc/big.avi" 2>/dev/null || cp "$f" "$out/vlc/big.avi"
  chmod -R a+rwX "$out/vlc"; chmod a+x "$out"
  timeout 120 runuser -u nobody -- env HOME="$out/vlc/home" DISPLAY= cvlc --intf dummy --vout dummy --aout dummy \
    --play-and-exit --start-time "$last" -v "$out/vlc/big.avi" >"$out/vlc.log" 2>&1
  echo "VLC (last 5 s): $(grep -E "avi (demux )?(warning|error)" "$out/vlc.log" | grep -vc "cannot get packet header") warnings besides the end-of-file note"
  grep -E "avi (demux )?(warning|error)" "$out/vlc.log" | grep -v "cannot get packet header" | sort | uniq -c
' bench "$build" "$gib"
