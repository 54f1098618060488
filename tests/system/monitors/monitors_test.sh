#!/usr/bin/env bash
# "Full Screen" on a screen of several monitors, through torvane-record:  monitors_test.sh RECORDER
# The 2560x1080 test display gets two RandR monitors, LEFT and RIGHT (primary), each showing its own
# colour; each recorded alone shows its own content at its own size, "all" shows both, the choice
# stored by the movie properties is used, a monitor that is gone falls back to the primary one, and
# a recording goes on while the screen shrinks and grows back.
set -u
rec=$1
dir="$TORVANE_TEST_ENV/monitors"
mkdir -p "$dir"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
orange=F08020 green=30C050

xrandr --setmonitor LEFT 1280/338x1080/285+0+0 none >/dev/null &&
  xrandr --setmonitor '*RIGHT' 1280/338x1080/285+1280+0 none >/dev/null || { echo "cannot set up the monitors" >&2; exit 1; }
xsetroot -solid "#$orange"
xlogo -geometry 1280x1080+1280+0 -bg "#$green" -fg "#$green" &
logo=$!
trap 'kill $logo 2>/dev/null' EXIT
for _ in $(seq 100); do xwininfo -root -children 2>/dev/null | grep -q '"xlogo"' && break; sleep 0.05; done

# The colour in the middle of a 16x16 block at (x, y) of the first picture, as "R G B".
colour_at() {   # file, x, y
  ffmpeg -nostdin -v error -i "$1" -frames:v 1 -vf "crop=16:16:$2-8:$3-8,scale=1:1:flags=area" -f rawvideo \
    -pix_fmt rgb24 - | od -An -tu1 | awk '{ print $1, $2, $3 }'
}
same_colour() {   # "R G B", RRGGBB
  local want=$2
  awk -v got="$1" -v r=$((16#${want:0:2})) -v g=$((16#${want:2:2})) -v b=$((16#${want:4:2})) 'BEGIN {
    n = split(got, c, " "); if (n != 3) exit 1
    d = (c[1] - r)^2 + (c[2] - g)^2 + (c[3] - b)^2; exit !(d < 3 * 20 * 20) }'
}
size_of() { ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 "$1"; }
record() {   # name, extra options...
  local name=$1
  shift
  "$rec" --source full --size-choice 0 --fps 10 --cursor off --sound off --seconds 1 --out "$dir/$name.avi" "$@" \
    >"$dir/$name.log" 2>&1 || fail "$name: the recorder failed: $(tail -3 "$dir/$name.log")"
}
expect() {   # name, size, "x:colour ..." at the picture's middle height
  local f="$dir/$1.avi" got spot
  got=$(size_of "$f")
  [ "$got" = "$2" ] || fail "$1: the picture is $got, not $2"
  for spot in $3; do
    got=$(colour_at "$f" "${spot%%:*}" 540)
    same_colour "$got" "${spot#*:}" || fail "$1: at x=${spot%%:*} the picture shows '$got', not #${spot#*:}"
  done
}

listed=$("$rec" --list-monitors)
echo "$listed"
echo "$listed" | grep -qx "LEFT — 1280 × 1080 at +0+0" || fail "--list-monitors does not list LEFT: $listed"
echo "$listed" | grep -qx "RIGHT — 1280 × 1080 at +1280+0 (primary)" || fail "--list-monitors does not list RIGHT: $listed"

record left --monitor LEFT
expect left 1280x1080 "200:$orange 1080:$orange"
record right --monitor RIGHT
expect right 1280x1080 "200:$green 1080:$green"
record all --monitor all
expect all 2560x1080 "600:$orange 1900:$green"

# Unplugged since it was chosen: the primary monitor, and the user is told.
record gone --monitor HDMI-9
expect gone 1280x1080 "640:$green"
grep -q "The monitor HDMI-9 is not connected; recording the primary monitor (RIGHT — 1280 × 1080) instead." \
  "$dir/gone.log" || fail "the fallback is not told: $(cat "$dir/gone.log")"

# The choice the movie properties stored (its own key) is the one recorded.
conf="$XDG_CONFIG_HOME/TORVANE COMMUNICATIONS/TorvaneRecorder.conf"
mkdir -p "$(dirname "$conf")"
printf '[MovieProperty]\nMonitor=LEFT\n' >>"$conf"
record stored
expect stored 1280x1080 "640:$orange"

# The screen shrinks during a recording (a monitor unplugged or its mode changed) and grows back:
# the recording goes on at its size, black where the screen is missing, and shows it again after.
colour_at_time() {   # file, seconds, x, y
  ffmpeg -nostdin -v error -ss "$2" -i "$1" -frames:v 1 -vf "crop=16:16:$3-8:$4-8,scale=1:1:flags=area" -f rawvideo \
    -pix_fmt rgb24 - | od -An -tu1 | awk '{ print $1, $2, $3 }'
}
resized() {   # name, environment settings...
  local name=$1 pid code duration got
  shift
  env "$@" "$rec" --monitor all --fps 10 --cursor off --sound off --seconds 8 --out "$dir/$name.avi" >"$dir/$name.log" 2>&1 &
  pid=$!
  for _ in $(seq 600); do grep -q "recording to" "$dir/$name.log" && break; kill -0 $pid 2>/dev/null || break; sleep 0.05; done
  sleep 2
  xrandr --fb 1280x1080 2>/dev/null
  sleep 3
  xrandr --fb 2560x1080 2>/dev/null
  wait $pid
  code=$?
  cat "$dir/$name.log"
  [ "$code" = 0 ] || fail "$name: exit status $code, not 0: the recording did not go on"
  duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$dir/$name.avi")
  awk -v d="$duration" 'BEGIN { exit !(d > 7.4 && d < 8.6) }' || fail "$name: lasts $duration s, not 8"
  [ "$(size_of "$dir/$name.avi")" = 2560x1080 ] || fail "$name: the picture is $(size_of "$dir/$name.avi")"
  got=$(colour_at_time "$dir/$name.avi" 3.5 600 540)
  same_colour "$got" "$orange" || fail "$name: at 3.5 s the left monitor shows '$got', not #$orange"
  got=$(colour_at_time "$dir/$name.avi" 3.5 1900 540)
  same_colour "$got" 000000 || fail "$name: at 3.5 s the missing monitor shows '$got', not black"
  got=$(colour_at_time "$dir/$name.avi" 7.2 1900 540)
  same_colour "$got" "$green" || fail "$name: at 7.2 s the monitor back shows '$got', not #$green"
}
# With the server's change reports, and grabbing every picture as without them.
resized resized
resized resized-no-damage TORVANE_NO_DAMAGE=1

[ $failures -eq 0 ] && echo "every monitor records what it shows" || echo "$failures failure(s)" >&2
exit $((failures > 0))
