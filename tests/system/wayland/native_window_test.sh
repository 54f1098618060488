#!/usr/bin/env bash
# The recorder window on a headless Wayland desktop (with-env.sh --wayland): a native Wayland
# client (xdg-shell, not XWayland), placed by the compositor, with no complaint from Qt's
# Wayland plugin about what a Wayland client may not do (placing or raising itself).
#   native_window_test.sh PROGRAM
set -u
program=$1
log=$TORVANE_TEST_ENV/native-window.log
fail() { echo "FAIL: $*"; echo "--- program output"; cat "$log"; kill "$app" 2>/dev/null; exit 1; }

# window FIELD...: the recorder window's fields from the compositor's tree, one line.
window() {
  swaymsg -t get_tree | python3 -c '
import json, sys
def walk(n):
    if str(n.get("name", "")).startswith("Torvane Live Screen Recorder"):
        r = n["rect"]
        print(n.get("shell"), n.get("app_id"), n.get("type"), r["x"], r["y"], r["width"], r["height"])
        sys.exit(0)
    for c in n.get("nodes", []) + n.get("floating_nodes", []):
        walk(c)
walk(json.load(sys.stdin))'
}

"$program" >"$log" 2>&1 & app=$!
for _ in $(seq 200); do [ -n "$(window)" ] && break; sleep 0.05; done
[ -n "$(window)" ] || fail "the recorder window did not appear on the desktop"
# A moment for anything the window does after it shows (its placement runs then).
sleep 1
kill -0 "$app" 2>/dev/null || fail "the program ended"
read -r shell app_id type x y w h <<<"$(window)"
[ "$shell" = xdg_shell ] || fail "the window is a $shell client, not a native Wayland one"
[ "$app_id" = torvane-recorder ] || fail "the window's app id is $app_id"
# A fixed-size window floats; the compositor centres it on the 1280 x 720 output.
[ "$type" = floating_con ] || fail "the window is a $type, not floating"
cx=$((x + w / 2)) cy=$((y + h / 2))
[ $((cx > 600 && cx < 680 && cy > 320 && cy < 400)) = 1 ] || fail "the window is not where the compositor puts it: $x,$y ${w}x$h"
grep -i "qt.qpa.wayland\|does not support\|setPosition\|requestActivate" "$log" && fail "Qt's Wayland plugin complained"
kill "$app"
wait "$app" 2>/dev/null
echo "PASS"
