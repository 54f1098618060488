# Sourced by with-env.sh for --camera: a private session bus, PipeWire and WirePlumber, and a
# GStreamer test picture published as a camera (media.class Video/Source), so the recorder's device
# monitor lists it and captures it through pipewiresrc like a desktop camera.
#
# The session comes from tests/env/pipewire.sh. Uses from the caller: $dir (private folder), the pids array. Exports TORVANE_CAMERA_NAME,
# TORVANE_CAMERA_PID (SIGTERM to it unplugs the camera) and TORVANE_CAMERA_COLOR (0xRRGGBB).
#
# TORVANE_CAMERA_SPEC may set "NAME|COLOR|WIDTHxHEIGHT" before with-env.sh runs; the defaults are a
# 640x480 camera named "Torvane Test Camera" showing 0xff2060 (an unmistakable pink).

camera_start() {
  local spec="${TORVANE_CAMERA_SPEC:-Torvane Test Camera|0xff2060|640x480}"
  local name="${spec%%|*}" rest="${spec#*|}"
  local color="${rest%%|*}" size="${rest#*|}"
  local w="${size%x*}" h="${size#*x}"
  # A PipeWire session may be running already (another option of the environment).
  if [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ]; then
    . "$(dirname "${BASH_SOURCE[0]}")/pipewire.sh"
    pw_start_all "$dir" || return 1
  fi
  # The publisher serves one consumer: once that one has gone it stops delivering, so it is
  # started afresh whenever the last link has gone, as a camera is ready for the next program.
  # foreground-color is 0xAARRGGBB.
  local argb=$((0xff000000 | color))
  (
    publish() {
      gst-launch-1.0 -q videotestsrc is-live=true pattern=solid-color foreground-color=$argb \
        ! "video/x-raw,format=YUY2,width=$w,height=$h,framerate=30/1" \
        ! pipewiresink mode=provide client-name="torvane-camera" \
          "stream-properties=\"props,media.class=Video/Source,node.description=\\\"$name\\\",media.role=Camera\"" \
        >>"$dir/camera.log" 2>&1 &
      gpid=$!
    }
    trap 'kill $gpid 2>/dev/null; exit 0' TERM
    publish
    linked=0
    while :; do
      n=$(pw-cli ls Link 2>/dev/null | grep -c 'type PipeWire:Interface:Link')
      if [ "$linked" -gt 0 ] && [ "$n" = 0 ]; then
        kill $gpid 2>/dev/null; wait $gpid 2>/dev/null
        publish
        for _ in $(seq 50); do pw-cli ls Node 2>/dev/null | grep -qF "node.description = \"$name\"" && break; sleep 0.1; done
      fi
      linked=$n
      sleep 0.3
    done
  ) &
  # SIGTERM to this process unplugs the camera for good.
  TORVANE_CAMERA_PID=$!
  pids+=($TORVANE_CAMERA_PID)
  export TORVANE_CAMERA_NAME="$name" TORVANE_CAMERA_COLOR="$color" TORVANE_CAMERA_PID
  # Ready once PipeWire lists the node.
  local ok=0
  for _ in $(seq 100); do
    if pw-cli ls Node 2>/dev/null | grep -qF "node.description = \"$name\""; then ok=1; break; fi
    sleep 0.1
  done
  [ $ok = 1 ] || { echo "with-env: the virtual camera did not appear:" >&2; cat "$dir/camera.log" "$dir/wireplumber.log" >&2; return 1; }
}
