# Sourced by with-env.sh for --camera: a private session bus, PipeWire and WirePlumber, and a
# GStreamer test picture published as a camera (media.class Video/Source), so the recorder's device
# monitor lists it and captures it through pipewiresrc like a desktop camera.
#
# The session comes from tests/env/pipewire.sh. Uses from the caller: $dir (private folder), the pids array. Exports TORVANE_CAMERA_NAME,
# TORVANE_CAMERA_PID (SIGTERM to it unplugs the camera), TORVANE_CAMERA_COLOR (0xRRGGBB), and
# TORVANE_CAMERA_READY / TORVANE_CAMERA_USED (see camera-fresh.sh: wait for an unused camera
# before each program that opens it, say when done).
#
# TORVANE_CAMERA_SPEC may set "NAME|COLOR|WIDTHxHEIGHT[|mjpeg]" before with-env.sh runs; the
# defaults are a 640x480 camera named "Torvane Test Camera" showing 0xff2060 (an unmistakable pink)
# that sends raw YUY2 pictures; "mjpeg" makes it send MJPEG only, as many HD webcams do.

camera_start() {
  local spec="${TORVANE_CAMERA_SPEC:-Torvane Test Camera|0xff2060|640x480}"
  local name="${spec%%|*}" rest="${spec#*|}"
  local color="${rest%%|*}" size="${rest#*|}" format=raw
  if [ "${size#*|}" != "$size" ]; then format="${size#*|}" size="${size%%|*}"; fi
  local w="${size%x*}" h="${size#*x}"
  # What the publisher sends: YUY2, or JPEG made from RGB (so full range, as a camera's JPEG is).
  local sent="video/x-raw,format=YUY2,width=$w,height=$h,framerate=30/1"
  [ "$format" = mjpeg ] &&
    sent="video/x-raw,format=RGB,width=$w,height=$h,framerate=30/1 ! jpegenc ! image/jpeg,width=$w,height=$h,framerate=30/1"
  # A PipeWire session may be running already (another option of the environment).
  if [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ]; then
    . "$(dirname "${BASH_SOURCE[0]}")/pipewire.sh"
    pw_start_all "$dir" || return 1
  fi
  # The publisher serves one consumer: once that one has gone it stops delivering, so it is
  # started afresh for the next program, as a camera is ready for it. Between the two the camera
  # is missing for a moment, so a program that starts then would not find it: the loop tells
  # each fresh publisher by its number in $dir/camera.ready (removed while the camera is in use
  # or being replaced), and a consumer that wrote that number to $dir/camera.used when done gets
  # a new one at once. Consumers that say nothing get one once their links have gone.
  # foreground-color is 0xAARRGGBB.
  local argb=$((0xff000000 | color))
  local ready="$dir/camera.ready" used="$dir/camera.used"
  (
    publish() {
      gst-launch-1.0 -q videotestsrc is-live=true pattern=solid-color foreground-color=$argb \
        ! $sent \
        ! pipewiresink mode=provide client-name="torvane-camera" \
          "stream-properties=\"props,media.class=Video/Source,node.description=\\\"$name\\\",media.role=Camera\"" \
        >>"$dir/camera.log" 2>&1 &
      gpid=$!
    }
    # The publisher's node id, empty while it is not listed.
    node_id() {
      timeout 5 pw-cli ls Node 2>/dev/null | awk -v d="node.description = \"$name\"" \
        '$1 == "id" { id = $2 } index($0, d) { sub(",", "", id); print id; exit }'
    }
    # Links out of node $1; fails when PipeWire did not answer (a busy machine), which says
    # nothing about the links.
    links_of() {
      local out
      out=$(timeout 5 pw-cli ls Link 2>/dev/null) || return 1
      grep -cF "link.output.node = \"$1\"" <<<"$out"
      return 0
    }
    gpid=
    trap '[ -n "$gpid" ] && kill $gpid 2>/dev/null; rm -f "$ready"; exit 0' TERM
    gen=0
    while :; do
      rm -f "$ready"
      if [ -n "$gpid" ]; then kill $gpid 2>/dev/null; wait $gpid 2>/dev/null; fi
      gen=$((gen + 1))
      publish
      id=
      for _ in $(seq 150); do id=$(node_id); [ -n "$id" ] && break; sleep 0.1; done
      if [ -z "$id" ]; then echo "virtual-camera: publisher $gen did not appear" >>"$dir/camera.log"; continue; fi
      echo "$gen" >"$ready.new" && mv "$ready.new" "$ready"
      linked=0 idle=0
      while :; do
        sleep 0.2
        [ "$(cat "$used" 2>/dev/null)" = "$gen" ] && break
        n=$(links_of "$id") || continue
        if [ "$n" -gt 0 ]; then
          linked=1 idle=0
          rm -f "$ready"
        elif [ "$linked" = 1 ]; then
          # Two answers in a row, so one odd answer never takes the camera from a consumer.
          idle=$((idle + 1))
          [ "$idle" -ge 2 ] && break
        fi
      done
    done
  ) &
  # SIGTERM to this process unplugs the camera for good.
  TORVANE_CAMERA_PID=$!
  pids+=($TORVANE_CAMERA_PID)
  export TORVANE_CAMERA_NAME="$name" TORVANE_CAMERA_COLOR="$color" TORVANE_CAMERA_PID
  export TORVANE_CAMERA_READY="$ready" TORVANE_CAMERA_USED="$used"
  local ok=0
  for _ in $(seq 200); do
    if [ -s "$ready" ]; then ok=1; break; fi
    sleep 0.1
  done
  [ $ok = 1 ] || { echo "with-env: the virtual camera did not appear:" >&2; cat "$dir/camera.log" "$dir/wireplumber.log" >&2; return 1; }
}
