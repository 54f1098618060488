#!/usr/bin/env bash
# torvane-record on a scaled monitor of the headless Wayland desktop (with-env.sh --wayland, one
# output TORVANE_WL_OUTPUTS=WxH@SCALE): full screen is the monitor at its full resolution, the
# pointer the desktop draws sits where it is, and a marked area (in the monitor's pixels) holds
# what lies there.
#   scaled_monitor_test.sh TORVANE_RECORD VIRTUAL_POINTER
set -u
rec=$1 vp=$2
out=$TORVANE_TEST_ENV/out
mkdir -p "$out"
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
spec=${TORVANE_WL_OUTPUTS:?}
# Two outputs: the desktop's dialog shares the second one, which is recorded at its own size and
# shows its own (empty, red) desktop.
set -- $spec
if [ $# = 2 ]; then
  echo "pick HEADLESS-2" >"$TORVANE_TEST_ENV/wayland/chooser"
  size=${2%@*}
  swaymsg -q exec "foot sh -c 'while :; do date +%N; sleep 0.1; done'"   # changes on the first output
  "$rec" --out "$out/second.avi" --seconds 2 --sound off --fps 10 >"$out/second.log" 2>&1 || fail "second monitor: $(cat "$out/second.log")"
  got=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$out/second.avi")
  [ "$got" = "${size%x*},${size#*x}" ] || fail "the second monitor recorded $got, not $size"
  p=$(ffmpeg -nostdin -v error -i "$out/second.avi" -frames:v 1 -vf "format=rgb24,crop=1:1:${size%x*}-2:${size#*x}-2" -f rawvideo - | od -An -tu1 | awk '{print $1, $2, $3}')
  [ "$p" = "255 0 0" ] || [ "$(echo "$p" | awk '{print ($1 > 200 && $2 < 60 && $3 < 60)}')" = 1 ] || fail "the second monitor's corner is $p, not its red"
  [ $fails = 0 ] && echo "PASS" || { cat "$out"/*.log; exit 1; }
  exit
fi
size=${spec%@*} scale=${spec#*@}
W=${size%x*} H=${size#*x}
# dev N: logical N in the monitor's pixels.
dev() { awk -v n="$1" -v s="$scale" 'BEGIN { printf "%d", n * s + 0.5 }'; }
LW=$(awk -v w="$W" -v s="$scale" 'BEGIN { printf "%d", w / s }') LH=$(awk -v h="$H" -v s="$scale" 'BEGIN { printf "%d", h / s }')

# Green left, blue right: a native window and an XWayland one, side by side at half the width.
# The green one keeps printing in green: this desktop's portal sends a first picture only when
# something on the monitor changes.
swaymsg -q exec "foot -o colors.background=00ff00 -o colors.foreground=00ff00 sh -c 'while :; do date +%N; sleep 0.1; done'"
for _ in $(seq 200); do swaymsg -t get_tree | grep -q '"app_id": "foot"' && break; sleep 0.05; done
swaymsg -q exec "xlogo -bg blue -fg blue"
for _ in $(seq 200); do swaymsg -t get_tree | grep -q '"class": "XLogo"' && break; sleep 0.05; done
half=$(swaymsg -t get_tree | python3 -c '
import json, sys
def walk(n):
    if n.get("app_id") == "foot": print(n["rect"]["x"] + n["rect"]["width"]); sys.exit(0)
    for c in n.get("nodes", []) + n.get("floating_nodes", []): walk(c)
walk(json.load(sys.stdin))')
[ -n "$half" ] || { echo "FAIL: the windows did not show"; exit 1; }

# A pointer the desktop draws into its pictures, at (px, py) of the desktop's logical units.
exec 7> >("$vp" >"$out/pointer.log" 2>&1)
px=$((half + 200)) py=$((LH - 100))
echo "move $px $py $LW $LH" >&7
sleep 1

# rgb FILE W H: the last picture as raw RGB into FILE.rgb.
rgb() { ffmpeg -nostdin -v error -sseof -0.4 -i "$1" -frames:v 1 -f rawvideo -pix_fmt rgb24 -y "$1.rgb" </dev/null; }
# at FILE.rgb W X Y: "R G B".
at() { python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); i = (int(sys.argv[3]) * int(sys.argv[2]) + int(sys.argv[4])) * 3; print(d[i], d[i + 1], d[i + 2])' "$1" "$2" "$4" "$3"; }
near() {
  set -- $1 $2 $3 $4
  [ $# = 6 ] && awk -v a="$1" -v b="$2" -v c="$3" -v x="$4" -v y="$5" -v z="$6" \
    'function d(p,q){return p>q?p-q:q-p} BEGIN{exit !(d(a,x)<60 && d(b,y)<60 && d(c,z)<60)}'
}

# 1. Full screen: the whole monitor in its own pixels.
"$rec" --out "$out/full.avi" --seconds 2 --sound off --fps 10 >"$out/full.log" 2>&1 || fail "full screen: $(cat "$out/full.log")"
grep -q "shares a monitor of $W × $H pixels" "$out/full.log" || fail "the monitor is not told at its size: $(cat "$out/full.log")"
got=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$out/full.avi")
[ "$got" = "$W,$H" ] || fail "full screen recorded $got, not $W,$H"
rgb "$out/full.avi"
p=$(at "$out/full.avi.rgb" "$W" "$(dev $((half / 2)))" "$(dev 300)"); near "$p" 0 255 0 || fail "left half not green: $p"
p=$(at "$out/full.avi.rgb" "$W" "$(dev $((half + half / 2)))" "$(dev 100)"); near "$p" 0 0 255 || fail "right half not blue: $p"
# The pointer: the first pixel that is not blue in the right half is its tip, at its place.
tip=$(python3 - "$out/full.avi.rgb" "$W" "$H" "$(dev "$half")" <<'PY'
import sys
d = open(sys.argv[1], "rb").read(); W, H, left = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
for y in range(H):
    for x in range(left + 8, W):
        i = (y * W + x) * 3
        if d[i] > 80 or d[i + 1] > 80 or d[i + 2] < 170:
            print(x, y); sys.exit(0)
PY
)
set -- $tip
want_x=$(dev $px) want_y=$(dev $py)
[ $# = 2 ] && [ $(( ($1 - want_x) * ($1 - want_x) + ($2 - want_y) * ($2 - want_y) <= 64 )) = 1 ] ||
  fail "the pointer is drawn at ${tip:-nowhere}, not at $want_x $want_y"

# 2. A marked area across the two halves, in the monitor's pixels.
l=$(( $(dev "$half") - 100 )) t=$(dev 100)
"$rec" --out "$out/area.avi" --seconds 2 --sound off --fps 10 --area "$l,$t,$((l + 200)),$((t + 200))" >"$out/area.log" 2>&1 ||
  fail "area: $(cat "$out/area.log")"
got=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$out/area.avi")
[ "$got" = "200,200" ] || fail "the area recorded $got"
rgb "$out/area.avi"
p=$(at "$out/area.avi.rgb" 200 96 100); near "$p" 0 255 0 || fail "the area's left of the border not green: $p"
p=$(at "$out/area.avi.rgb" 200 104 100); near "$p" 0 0 255 || fail "the area's right of the border not blue: $p"

exec 7>&-
[ $fails = 0 ] && echo "PASS" || { cat "$out"/*.log; exit 1; }
