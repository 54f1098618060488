#!/usr/bin/env bash
# One kind of recording made by torvane-record on the test display, then read by the programs people
# convert, edit and play recordings with:  readers_test.sh CASE RECORDER [avi|mp4]
#
# Each reader must see the whole time line: ffmpeg and HandBrake conversions last the recorded length,
# melt, mpv and GStreamer report it, GStreamer decodes to the end without an error, VLC's reader
# has nothing to complain about, mediainfo reports the frame rate, a browser plays an MP4 file to
# its end, and pictures read by seeking show what was on the screen at that moment.
set -u
case_name=$1 rec=$2 ext=${3:-avi}
here=$(cd "$(dirname "$0")" && pwd)
dir="$TORVANE_TEST_ENV/readers"
mkdir -p "$dir"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
near() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { exit !((a - b) <= d && (b - a) <= d) }'; }
now() { date +%s.%N; }
fps=15
period=$(awk -v f=$fps 'BEGIN { print 1 / f }')

# ---------------------------------------------------------------------------------------------
# Making the recording

# Starts the recorder in the background and waits until it records; sets $pid and $t0 (the moment
# recording began, as near as the tool tells it).
start_recording() {   # log, recorder arguments...
  local log=$1
  shift
  "$rec" "$@" >"$log" 2>&1 &
  pid=$!
  for _ in $(seq 400); do
    grep -q "recording to" "$log" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.025
  done
  t0=$(now)
  grep -q "recording to" "$log" || { fail "the recorder did not start: $(cat "$log")"; exit 1; }
}
# Sleeps until `seconds` after $t0.
at() { local wait; wait=$(awk -v t0="$t0" -v t="$1" -v n="$(now)" 'BEGIN { w = t0 + t - n; print (w > 0 ? w : 0) }'); sleep "$wait"; }
finish_recording() {   # log; the tool's exit status must be 0
  wait "$pid"
  local code=$?
  [ $code -eq 0 ] || fail "the recorder exited with $code: $(tail -5 "$1")"
}
set_colour() { xsetroot -solid "#$1"; }
# Seconds recorded, from the tool's summary.
recorded_seconds() { sed -n 's/^torvane-record: wrote .*: \([0-9.]*\) s recorded.*/\1/p' "$1" | tail -1; }

# ---------------------------------------------------------------------------------------------
# Reading it

video_seconds() {   # file: the length of its video stream as the container lists it
  ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 "$1" | head -1
}
# The length of the video a conversion really holds: the end of its last picture.
picture_end() {   # file
  # AVI packets have only a decoding time, which is the presentation time without B pictures.
  ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,dts_time,duration_time -of csv=p=0 "$1" |
    awk -F, '{ t = ($1 != "N/A" ? $1 : $2) } t != "N/A" { end = t + ($3 == "N/A" ? 0 : $3); if (end > m) m = end }
             END { printf "%.3f\n", m }'
}
# The picture a seek to `seconds` gives: "TIME R G B", its own time and the colour in its middle.
# A seek lands on the first picture at or after the moment asked for.
picture_at() {   # file, seconds
  local out="$dir/seek.rgb"
  rm -f "$out"
  ffmpeg -v info -nostdin -y -ss "$2" -i "$1" -frames:v 1 \
    -vf "showinfo,crop=16:16:iw/2-8:ih/2-8,scale=1:1:flags=area" -f rawvideo -pix_fmt rgb24 "$out" \
    2>"$dir/seek.log"
  local pts
  pts=$(sed -n 's/.*Parsed_showinfo.* pts_time:\([-0-9.e]*\).*/\1/p' "$dir/seek.log" | head -1)
  [ -s "$out" ] && [ -n "$pts" ] || { echo ""; return; }
  echo "$(awk -v a="$2" -v b="$pts" 'BEGIN { printf "%.3f", a + b }') $(od -An -tu1 "$out" | awk '{ print $1, $2, $3 }')"
}
same_colour() {   # "R G B", RRGGBB
  local want=$2
  awk -v got="$1" -v r=$((16#${want:0:2})) -v g=$((16#${want:2:2})) -v b=$((16#${want:4:2})) 'BEGIN {
    n = split(got, c, " "); if (n != 3) exit 1
    d = (c[1] - r)^2 + (c[2] - g)^2 + (c[3] - b)^2; exit !(d < 3 * 20 * 20) }'
}
# The colour of a timeline ("0:RRGGBB 1.2:RRGGBB ...": from which second on the screen showed which
# colour) at `seconds`, or "" within 0.3 s of a change, where the moment is not known that closely.
colour_then() {   # timeline, seconds
  local m start colour=""
  for m in $1; do
    start=${m%%:*}
    awk -v t="$2" -v s="$start" 'BEGIN { exit !(t >= s - 0.3 && t < s + 0.3 && s > 0) }' && { echo ""; return; }
    awk -v t="$2" -v s="$start" 'BEGIN { exit !(t >= s) }' && colour=${m#*:}
  done
  [ "$colour" = "-" ] && colour=""   # changing too fast to say
  echo "$colour"
}
# Seeks to each probe: the picture comes within a second of it (once a second a still stretch has
# one) and shows what the screen showed at that picture's own time.
expect_pictures() {   # file, timeline, probes
  local f=$1 t got when rgb want
  for t in $3; do
    got=$(picture_at "$f" "$t")
    [ -n "$got" ] || { fail "$(basename "$f"): a seek to $t s gives no picture"; continue; }
    when=${got%% *} rgb=${got#* }
    awk -v w="$when" -v t="$t" -v p="$period" 'BEGIN { exit !(w >= t - p && w <= t + 1 + 2 * p) }' ||
      fail "$(basename "$f"): a seek to $t s lands on a picture at $when s"
    want=$(colour_then "$2" "$when")
    [ -z "$want" ] || same_colour "$rgb" "$want" ||
      fail "$(basename "$f"): the picture at $when s (a seek to $t s) shows '$rgb', not #$want"
  done
}

# Every reader on one file. `video` is the length its video must have (the conversions, mediainfo),
# `whole` what players and editors must report for the file; `tol` how far either may be off (by
# default one frame period). `streams` "video" or "video audio"; `timeline` and `probes` as
# expect_pictures takes them. With `cut` set, the file is one cut off while recording: it has no
# idx1, which VLC mentions.
check_readers() {   # file, video, whole, streams, timeline, probes, [tol]
  local f=$1 length=$2 whole=$3 streams=$4 timeline=$5 probes=$6 name
  name=$(basename "$f" ".$ext")
  local tol=${7:-$(awk -v p="$period" 'BEGIN { print p + 0.002 }')}

  # The file itself: its pictures, by seeking.
  expect_pictures "$f" "$timeline" "$probes"

  # ffmpeg converting with its defaults.
  local mp4="$dir/$name-ffmpeg.mp4"
  if ffmpeg -nostdin -v error -y -i "$f" "$mp4" 2>"$dir/$name-ffmpeg.log"; then
    local e
    e=$(picture_end "$mp4")
    # A file without the picture pattern of a run's end (one cut off) leaves ffmpeg to guess its
    # last picture's length from the pictures before it: up to a second of still picture more.
    awk -v e="$e" -v l="$length" -v t="$tol" -v x="${convert_slack:-0}" 'BEGIN { exit !(e >= l - t && e <= l + t + x) }' ||
      fail "$name: ffmpeg's conversion has $e s of video, not $length s"
    expect_pictures "$mp4" "$timeline" "$probes"
    case "$streams" in *audio*)
      ffprobe -v error -select_streams a -show_entries stream=codec_type -of csv=p=0 "$mp4" | grep -q audio ||
        fail "$name: ffmpeg's conversion lost the sound" ;;
    esac
  else
    fail "$name: ffmpeg could not convert it: $(head -5 "$dir/$name-ffmpeg.log")"
  fi

  # HandBrake with its default preset.
  local hb="$dir/$name-handbrake.mp4"
  if HandBrakeCLI -i "$f" -o "$hb" >"$dir/$name-handbrake.log" 2>&1 && [ -s "$hb" ]; then
    local e
    e=$(picture_end "$hb")
    # From MP4, HandBrake moves the pictures by the sound encoder's start-up frame (23 ms).
    near "$e" "$length" "$(awk -v t="$tol" -v x="$ext" 'BEGIN { print t + (x == "mp4" ? 0.025 : 0) }')" ||
      fail "$name: HandBrake's conversion has $e s of video, not $length s"
    expect_pictures "$hb" "$timeline" "$probes"
  else
    fail "$name: HandBrake could not convert it: $(grep -iE 'error|fail' "$dir/$name-handbrake.log" | head -5)"
  fi

  # melt (the engine of the common editors): the clip's length in its own frames.
  local frames mlt_fps
  melt -quiet "$f" -consumer xml:"$dir/$name.mlt" >/dev/null 2>&1
  frames=$(sed -n 's/.*<property name="length">\([0-9]*\)<.*/\1/p' "$dir/$name.mlt" | head -1)
  mlt_fps=$(sed -n 's/.*frame_rate_num="\([0-9]*\)" frame_rate_den="\([0-9]*\)".*/\1 \2/p' "$dir/$name.mlt" | head -1 |
            awk '{ print $1 / $2 }')
  if [ -n "$frames" ] && [ -n "$mlt_fps" ]; then
    local ml
    ml=$(awk -v n="$frames" -v r="$mlt_fps" 'BEGIN { print n / r }')
    near "$ml" "$whole" "$(awk -v r="$mlt_fps" -v t="$tol" 'BEGIN { print t + 1 / r }')" ||
      fail "$name: melt makes it $ml s long, not $whole s"
  else
    fail "$name: melt could not read it"
  fi

  # mpv: the length it reports when it opens the file.
  local md
  md=$(mpv --no-config --vo=null --ao=null --frames=1 --term-playing-msg='LENGTH=${=duration}' "$f" 2>/dev/null |
       sed -n 's/^LENGTH=//p' | head -1)
  near "${md:-0}" "$whole" "$tol" || fail "$name: mpv makes it ${md:-?} s long, not $whole s"

  # GStreamer: the length it discovers, and a decode to the end without an error.
  local gd
  gd=$(gst-discoverer-1.0 "$f" 2>&1 | sed -n 's/^ *Duration: \([0-9]*\):\([0-9]*\):\([0-9.]*\).*/\1 \2 \3/p' |
       head -1 | awk '{ print $1 * 3600 + $2 * 60 + $3 }')
  near "${gd:-0}" "$whole" "$tol" || fail "$name: GStreamer makes it ${gd:-?} s long, not $whole s"
  local gst_out
  gst_out=$(gst-launch-1.0 -q playbin uri="file://$f" video-sink="fakesink sync=false" \
            audio-sink="fakesink sync=false" 2>&1)
  [ $? -eq 0 ] && ! echo "$gst_out" | grep -qE 'ERROR|WARNING' ||
    fail "$name: GStreamer's decode to the end complains: $(echo "$gst_out" | head -5)"

  # VLC refuses to run as root: an ordinary user reads a copy.
  check_vlc "$f" "$name"

  local mi mode rate count ms
  mi=$(mediainfo --Inform='Video;%FrameRate_Mode%|%FrameRate%|%FrameCount%|%Duration%' "$f")
  IFS='|' read -r mode rate count ms <<<"$mi"
  if [ "$ext" = avi ]; then
    # The chosen frame rate, never a variable one (for AVI it names no mode at all: the container
    # has only constant rates), and a picture count of the whole length.
    { [ -z "$mode" ] || [ "$mode" = "CFR" ]; } && near "${rate:-0}" "$want_fps" 0.001 ||
      fail "$name: mediainfo reports frame rate '$mode $rate', not a constant $want_fps"
    near "$(awk -v n="${count:-0}" -v r="$want_fps" 'BEGIN { print n / r }')" "$length" "$tol" ||
      fail "$name: mediainfo counts ${count:-?} pictures, not $length s of them"
  else
    # In MP4 an unchanged picture simply lasts longer: the rate is variable, the length whole.
    # ffmpeg guesses the rate from the spacing of the first pictures and converts at that rate: a
    # guess of half the rate stretches the converted end.
    local guessed
    guessed=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$f" |
              awk -F/ '{ print ($2 ? $1 / $2 : 0) }')
    near "${guessed:-0}" "$want_fps" 0.001 || fail "$name: ffmpeg guesses ${guessed:-?} pictures a second, not $want_fps"
    near "$(awk -v m="${ms:-0}" 'BEGIN { print m / 1000 }')" "$length" "$tol" ||
      fail "$name: mediainfo makes the video ${ms:-?} ms long, not $length s"
    check_browser "$f" "$name" "$whole" "$streams" "$tol"
  fi
}

# Headless Chromium plays it in a <video> element to its end.
check_browser() {   # file, name, whole, streams, tol
  local out
  out=$(/usr/bin/python3 "$here/browser_play.py" "$1" 90)
  echo "$out" | /usr/bin/python3 -c '
import json, sys
r = json.loads(sys.stdin.read() or "{}")
whole, tol, audio = float(sys.argv[1]), float(sys.argv[2]), "audio" in sys.argv[3]
problems = []
if r.get("error"): problems.append("error " + str(r["error"]))
if not r.get("ended"): problems.append("did not reach the end")
# The sound encoder'"'"'s start-up frame (23 ms) may count in the browser'"'"'s length.
if abs((r.get("duration") or 0) - whole) > tol + 0.025: problems.append("duration %s, not %s" % (r.get("duration"), whole))
if abs((r.get("currentTime") or 0) - (r.get("duration") or -1)) > 0.1: problems.append("stopped at %s" % r.get("currentTime"))
if (r.get("frames") or 0) < 1 or not r.get("videoBytes"): problems.append("showed no picture")
if audio and not r.get("audioBytes"): problems.append("decoded no sound")
print("; ".join(problems)); sys.exit(1 if problems else 0)
' "$3" "$5" "$4" >"$dir/$2-browser.txt" || fail "$2: the browser: $(cat "$dir/$2-browser.txt") ($out)"
}

check_vlc() {   # file, name
  local f=$1 name=$2 vdir="$dir/vlc-$2"
  mkdir -p "$vdir/home"
  cp "$f" "$vdir/rec.$ext"
  chmod -R a+rwX "$vdir"
  chmod a+x "$dir" "$TORVANE_TEST_ENV"
  local run=(env HOME="$vdir/home" XDG_RUNTIME_DIR="$vdir/home" DISPLAY= \
             cvlc --intf dummy --vout dummy --aout dummy --no-video-title-show --play-and-exit --rate 4 -v "$vdir/rec.$ext")
  if [ "$(id -u)" -eq 0 ]; then
    timeout 60 runuser -u nobody -- "${run[@]}" >"$vdir/vlc.log" 2>&1
  else
    timeout 60 "${run[@]}" >"$vdir/vlc.log" 2>&1
  fi
  grep -q "$ext demux" "$vdir/vlc.log" ||
    fail "$name: VLC did not open it: $(head -5 "$vdir/vlc.log")"
  local complaints
  complaints=$(grep -E "$ext (demux )?(warning|error)" "$vdir/vlc.log" | grep -v "cannot get packet header")
  # A file cut off while recording has only the index its last refresh wrote, no idx1.
  [ -n "${cut:-}" ] && complaints=$(echo "$complaints" | grep -v "cannot find idx1 chunk, no index defined")
  # A fragmented MP4 file's header lists no samples (they are in the fragments); its edit list
  # holds back the sound encoder's start-up frame; its sample times are listed in runs. VLC notes
  # all three.
  [ "$ext" = mp4 ] && complaints=$(echo "$complaints" |
    grep -vE "STTS table of [0-9]+ entries|no chunk defined|elst box found")
  [ -z "$complaints" ] || fail "$name: VLC's $ext reader complains: $(echo "$complaints" | sort | uniq -c | head -5)"
}

# The video's listed length and the recorded time agree within a frame period; prints the length.
listed_length() {   # file, log
  local v r
  v=$(video_seconds "$1")
  r=$(recorded_seconds "$2")
  [ -n "$v" ] || { fail "$(basename "$1") has no video stream"; echo 0; return; }
  if [ -n "$r" ]; then
    near "$v" "$r" "$(awk -v p="$period" 'BEGIN { print 2 * p }')" ||
      fail "$(basename "$1"): the video lasts $v s but $r s were recorded"
  fi
  echo "$v"
}

want_fps=$fps
area=(--source area --area 0,0,640,360 --fps $fps --cursor off)
f="$dir/$case_name.$ext"
log="$dir/$case_name.log"
blue=2040A0 orange=F08020 green=30C050 pink=FF2060
set_colour "$blue"

case "$case_name" in
still)
  # Nothing changes for 5 s; the sound is the microphone.
  start_recording "$log" "${area[@]}" --sound mic --seconds 5 --out "$f"
  finish_recording "$log"
  length=$(listed_length "$f" "$log")
  check_readers "$f" "$length" "$length" "video audio" "0:$blue" "0 0.5 2.5 4.8"
  ;;
change)
  # One change at 1.2 s, then still to 6 s: the converted video must keep the still end.
  set_colour "$orange"
  start_recording "$log" "${area[@]}" --sound off --seconds 6 --out "$f"
  at 1.2
  set_colour "$blue"
  finish_recording "$log"
  length=$(listed_length "$f" "$log")
  check_readers "$f" "$length" "$length" "video" "0:$orange 1.2:$blue" "0 0.5 2.2 3.9 5.8"
  ;;
paused)
  # 2 s, a 2 s pause, 2 s more; the screen changes during the pause.
  start_recording "$log" "${area[@]}" --sound mic --seconds 4 --pause 2,2 --out "$f"
  at 3
  set_colour "$green"
  finish_recording "$log"
  length=$(listed_length "$f" "$log")
  check_readers "$f" "$length" "$length" "video audio" "0:$blue 2:$green" "0 1.2 2.5 3.8"
  ;;
motion)
  # The colour changes every 0.1 s for 2 s, then holds: full motion at the recording's rate.
  start_recording "$log" "${area[@]}" --sound system --seconds 4 --out "$f"
  (for _ in $(seq 20); do set_colour "$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n')"; sleep 0.1; done
   set_colour "$green") &
  animator=$!
  finish_recording "$log"
  wait "$animator"
  length=$(listed_length "$f" "$log")
  check_readers "$f" "$length" "$length" "video audio" "0:- 3:$green" "0.5 1.5 3.6"
  ;;
window_closes)
  # The recorded window goes away after about 2 s: the recording ends by itself there.
  xlogo -geometry 320x240+40+40 -bg "#$orange" -fg "#$orange" &
  app=$!
  win=""
  for _ in $(seq 100); do
    win=$(xwininfo -root -children 2>/dev/null | awk '/"xlogo"/ { print $1; exit }')
    [ -n "$win" ] && break
    sleep 0.05
  done
  [ -n "$win" ] || { fail "the window to record did not appear"; exit 1; }
  start_recording "$log" --source window --window "$win" --fps $fps --cursor off --sound off --out "$f"
  at 2
  kill "$app"
  finish_recording "$log"
  length=$(listed_length "$f" "$log")
  near "$length" 2 0.5 || fail "the window recording lasts $length s, not about 2 s"
  check_readers "$f" "$length" "$length" "video" "0:$orange" "0 0.3 1.5"
  ;;
webcam)
  # The camera alone, at its fixed rate; the virtual camera shows one colour.
  want_fps=24
  period=$(awk 'BEGIN { print 1 / 24 }')
  start_recording "$log" --source webcam --webcam "$TORVANE_CAMERA_NAME" --webcam-size 320x240 --sound off \
    --seconds 3 --out "$f"
  finish_recording "$log"
  length=$(listed_length "$f" "$log")
  check_readers "$f" "$length" "$length" "video" "0:$pink" "0.5 2.5"
  ;;
pip)
  # The presenter over a still screen: the camera's picture changes nothing on the screen itself.
  start_recording "$log" --source full --fps $fps --cursor off --webcam "$TORVANE_CAMERA_NAME" \
    --webcam-size 320x240 --pip on --pip-pos 8 --sound mic --seconds 4 --out "$f"
  finish_recording "$log"
  length=$(listed_length "$f" "$log")
  # The middle of the screen is the camera (middle centre), the rest the still background.
  check_readers "$f" "$length" "$length" "video audio" "0:$pink" "0.6 3.5"
  c=$(ffmpeg -nostdin -v error -ss 3 -i "$f" -frames:v 1 -vf "crop=16:16:8:8,scale=1:1:flags=area" -f rawvideo \
      -pix_fmt rgb24 - | od -An -tu1 | awk '{ print $1, $2, $3 }')
  same_colour "$c" "$blue" || fail "the screen around the camera shows '$c', not #$blue"
  ;;
killed)
  # Cut off by kill -9 at 3.5 s (a change at 1 s, then still). As it stands on disk, readers differ
  # on what they make of the part after the last refresh, but each plays it and lasts to within
  # 2.2 s of the cut (a refresh a second, a still picture repeated once a second). After --repair
  # it obeys the rules of a finished file.
  set_colour "$orange"
  start_recording "$log" "${area[@]}" --sound mic --out "$f"
  at 1
  set_colour "$blue"
  at 3.5
  kill -9 "$pid"
  wait "$pid" 2>/dev/null
  timeline="0:$orange 1:$blue"
  cp "$f" "$dir/repaired.$ext"
  cut=1 convert_slack=$(awk -v p="$period" 'BEGIN { print 1 + p }')
  check_readers "$f" 2.4 2.4 "video audio" "$timeline" "0 0.4 1.8" 1.15
  cut=
  g="$dir/repaired.$ext"
  if "$rec" --repair "$g" >"$dir/repair.log" 2>&1; then
    v=$(video_seconds "$g")
    near "${v:-0}" 2.4 1.15 || fail "repaired: the video lasts ${v:-?} s after a cut at 3.5 s"
    # It ends on a picture: what the index lists is what readers show.
    e=$(picture_end "$g")
    near "$e" "$v" "$(awk -v p="$period" 'BEGIN { print p + 0.002 }')" ||
      fail "repaired: its pictures end at $e s but its video is listed as $v s"
    # Its last picture lasts one period at the recording's rate, as in a finished file.
    s=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,dts_time -of csv=p=0 "$g" |
        awk -F, '{ t = ($1 != "N/A" ? $1 : $2) } t != "N/A" { print t }' | sort -g | tail -1)
    near "${v:-0}" "$(awk -v s="${s:-0}" -v p="$period" 'BEGIN { print s + p }')" 0.002 ||
      fail "repaired: its last picture starts at ${s:-?} s and its video ends at ${v:-?} s"
    # Its sound ends with its video, so every reader agrees on its length.
    check_readers "$g" "$v" "$v" "video audio" "$timeline" "0 0.4 1.8"
  else
    fail "--repair failed: $(cat "$dir/repair.log")"
  fi
  ;;
*)
  echo "unknown case $case_name" >&2
  exit 2
  ;;
esac

[ $failures -eq 0 ] && echo "$case_name: every reader sees the whole recording" || echo "$case_name: $failures failure(s)" >&2
exit $((failures > 0))
