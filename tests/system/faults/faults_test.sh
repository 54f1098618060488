#!/usr/bin/env bash
# One fault case against torvane-record, inside with-env.sh:  faults_test.sh CASE RECORDER CORPUS [avi|mp4]
# Files are checked with ffprobe/ffmpeg and with GStreamer's discoverer.
set -u
case_name=$1 rec=$2 corpus=$3 ext=${4:-avi}
dir="$TORVANE_TEST_ENV/faults"
mkdir -p "$dir"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
near() { awk -v a="$1" -v b="$2" -v d="$3" 'BEGIN { exit !((a - b) <= d && (b - a) <= d) }'; }

# Records in the background; sets $pid. The screen changes colour so the pictures are not all alike.
start_recording() {   # log file, recorder arguments...
  local log=$1
  shift
  "$rec" "$@" >"$log" 2>&1 &
  pid=$!
}
# Waits until the recorder says it records (its start may take seconds on a busy machine), then
# `seconds` more of recording.
recording_for() {   # log file, seconds
  local i
  for i in $(seq 600); do
    grep -q "^torvane-record: recording to " "$1" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  sleep "$2"
}
animate() { (while kill -0 "$pid" 2>/dev/null; do xsetroot -solid "#$(od -An -N3 -tx1 /dev/urandom | tr -d ' ')" 2>/dev/null; sleep 0.1; done) & }

# The file opens in both demuxers with the streams asked for, decodes without error, and lasts about
# `seconds` (within 1 s).
check_file() {   # file, seconds, streams ("video", "video audio", "video any"), [tolerance s]
  local f=$1 want=$2 streams=$3 tol=${4:-1}
  [ -s "$f" ] || { fail "$f is missing or empty"; return; }
  local types duration gst
  types=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$f" | sort | tr '\n' ' ' | sed 's/ $//')
  # "video any": the store decides whether there is sound.
  if [ "$streams" = "video any" ]; then
    case "$types" in *video*) streams=$types ;; *) fail "$f has no video" ;; esac
  fi
  [ "$types" = "$(echo "$streams" | tr ' ' '\n' | sort | tr '\n' ' ' | sed 's/ $//')" ] || fail "$f has streams '$types', not '$streams'"
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$f")
  near "$duration" "$want" "$tol" || fail "$f lasts $duration s in ffprobe, not about $want s"
  local errors
  errors=$(ffmpeg -v error -i "$f" -f null - 2>&1 | head -5)
  [ -z "$errors" ] || fail "$f does not decode cleanly: $errors"
  gst=$(gst-discoverer-1.0 "$f" 2>&1)
  echo "$gst" | grep -q "video #" || fail "GStreamer sees no video in $f: $gst"
  case "$streams" in *audio*) echo "$gst" | grep -q "audio #" || fail "GStreamer sees no audio in $f" ;; esac
  local gd
  gd=$(echo "$gst" | sed -n 's/^ *Duration: \([0-9]*\):\([0-9]*\):\([0-9.]*\).*/\1 \2 \3/p' | head -1 |
       awk '{ print $1 * 3600 + $2 * 60 + $3 }')
  near "${gd:-0}" "$want" "$tol" || fail "$f lasts ${gd:-?} s in GStreamer, not about $want s"
}

# "after 12.4 s" in the stop sentence, in seconds.
stopped_after() { sed -n 's/.*The recording stopped after \([0-9.]*\) s;.*/\1/p' "$1" | head -1; }

case "$case_name" in
disk_full)
  # A 4 MiB file system (512 KiB for MP4, whose sound is compressed); where mounting is not
  # allowed, a file size limit instead.
  kib=4096
  [ "$ext" = mp4 ] && kib=512
  mnt="$dir/small"
  mkdir -p "$mnt"
  if mount -t tmpfs -o size=${kib}k tmpfs "$mnt" 2>/dev/null; then
    trap 'umount "$mnt"' EXIT
    expect="The disk is full."
  else
    trap '' XFSZ
    ulimit -f $kib
    expect="The file has reached the largest size its disk allows."
  fi
  start_recording "$dir/log" --out "$mnt/rec.$ext" --seconds 60 --source area --area 0,0,640,480 --fps 30 --sound both
  animate
  wait "$pid"
  code=$?
  cat "$dir/log"
  [ "$code" = 3 ] || fail "exit status $code after the disk filled, not 3"
  grep -qF "$expect" "$dir/log" || fail "the message does not say: $expect"
  held=$(stopped_after "$dir/log")
  [ -n "$held" ] || fail "the message does not say how much was recorded"
  # 4 MiB of mostly sound at 176 kB/s (AVI; 20 kB/s as AAC in MP4): the file must hold what the
  # message says.
  check_file "$mnt/rec.$ext" "${held:-0}" "video audio"
  ;;
display_lost)
  start_recording "$dir/log" --out "$dir/rec.$ext" --seconds 60 --source full --fps 15 --sound system
  animate
  recording_for "$dir/log" 3
  kill "$TORVANE_XVFB_PID"
  t0=$(date +%s%N)
  wait "$pid"
  code=$?
  took=$(( ($(date +%s%N) - t0) / 1000000 ))
  cat "$dir/log"
  echo "ended $took ms after the X server"
  [ "$code" = 3 ] || fail "exit status $code after the display went away, not 3"
  [ "$took" -lt 5000 ] || fail "took $took ms to end after the display went away"
  grep -q "The screen could not be read any more (The connection to the X server was lost)" "$dir/log" ||
    fail "the message does not say the display was lost"
  check_file "$dir/rec.$ext" "$(stopped_after "$dir/log")" "video audio"
  ;;
sound_lost)
  start_recording "$dir/log" --out "$dir/rec.$ext" --seconds 5 --source area --area 0,0,320,240 --fps 15 --sound both
  recording_for "$dir/log" 2.5
  kill -9 "$TORVANE_PULSE_PID"
  wait "$pid"
  code=$?
  cat "$dir/log"
  # The recording goes on without sound to its end; the loss is said and is not a success.
  [ "$code" = 4 ] || fail "exit status $code after the sound server went away, not 4"
  grep -q "the sound after that is missing" "$dir/log" || fail "the message does not say the sound is missing"
  check_file "$dir/rec.$ext" 5 "video audio"
  ;;
stop_signals)
  for sig in TERM INT HUP; do
    start_recording "$dir/$sig.log" --out "$dir/$sig.$ext" --source area --area 0,0,320,240 --fps 15 --sound system
    recording_for "$dir/$sig.log" 2.5
    kill -"$sig" "$pid"
    wait "$pid"
    code=$?
    cat "$dir/$sig.log"
    [ "$code" = 0 ] || fail "exit status $code after SIG$sig, not 0"
    got=$(sed -n 's/.*: \([0-9.]*\) s recorded.*/\1/p' "$dir/$sig.log")
    check_file "$dir/$sig.$ext" "${got:-0}" "video audio"
  done
  ;;
corrupt_store)
  conf="$XDG_CONFIG_HOME/TORVANE COMMUNICATIONS/TorvaneRecorder.conf"
  mkdir -p "$(dirname "$conf")"
  for seed in "$corpus"/*; do
    # Each damaged store, and the same store with random bytes over a part of it.
    for variant in as-is garbled; do
      cp "$seed" "$conf"
      if [ "$variant" = garbled ]; then
        size=$(stat -c %s "$conf")
        head -c 64 /dev/urandom | dd of="$conf" bs=1 seek=$((size / 2)) conv=notrunc status=none
      fi
      timeout 30 "$rec" --out "$dir/rec.avi" --seconds 1 >"$dir/log" 2>&1
      code=$?
      # Either it records, or it refuses with a sentence; never a crash or a hang.
      if [ "$code" = 0 ]; then
        check_file "$dir/rec.avi" 1 "video any" 1.5   # a stored 1 fps: the last picture lasts 1 s
      elif [ "$code" = 1 ] && [ -n "$(grep 'torvane-record: [A-Z]' "$dir/log")" ]; then
        echo "$(basename "$seed") $variant refused: $(grep 'torvane-record:' "$dir/log" | tail -1)"
      else
        # The store as it was, so the case can be run again.
        fail "$(basename "$seed") $variant: exit status $code: $(cat "$dir/log"); the store: $(base64 -w0 "$conf")"
      fi
    done
  done
  ;;
*) echo "unknown case $case_name" >&2; exit 2 ;;
esac
[ "$failures" = 0 ] && echo "PASS $case_name"
exit $(( failures > 0 ))
