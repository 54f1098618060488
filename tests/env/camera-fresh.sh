#!/usr/bin/env bash
# Runs one program on the virtual camera of `with-env.sh --camera` (virtual-camera.sh): waits until
# a publisher that no program has used yet is listed, runs the command, then tells the camera it
# is free for the next one. Exits with the command's status; 3 when no fresh camera came in 30 s.
#   camera-fresh.sh command args...
set -u
: "${TORVANE_CAMERA_READY:?not inside with-env.sh --camera}" "${TORVANE_CAMERA_USED:?}"
gen=
for _ in $(seq 300); do
  gen=$(cat "$TORVANE_CAMERA_READY" 2>/dev/null)
  [ -n "$gen" ] && [ "$gen" != "$(cat "$TORVANE_CAMERA_USED" 2>/dev/null)" ] && break
  gen=
  sleep 0.1
done
[ -n "$gen" ] || { echo "camera-fresh: the virtual camera was not ready in 30 s" >&2; exit 3; }
"$@"
status=$?
echo "$gen" >"$TORVANE_CAMERA_USED.new" && mv "$TORVANE_CAMERA_USED.new" "$TORVANE_CAMERA_USED"
exit $status
