#!/usr/bin/env bash
# Runs one command inside a private test environment: its own Xvfb display, its own PulseAudio
# daemon (null sink "torvane_sink" as default sink, sine source "torvane_sine" at 440 Hz as default
# source) on a private socket, and its own settings folder. Everything is torn down when the command
# ends, also when it fails or is interrupted.
#
#   with-env.sh [--no-sound | --pipewire] [--screen WxH] [--tray] [--wayland] [--camera] [--no-damage] -- command args...
#
# --no-damage starts Xvfb without the Damage extension (a server that cannot report changes).
#
# --pipewire runs the sound server as PipeWire instead (private session bus, pipewire, wireplumber,
# pipewire-pulse on the same kind of private socket), with the same names: null sink "torvane_sink"
# as default sink, and "torvane_sine" as default source: a remapped source (as a microphone is,
# not a monitor) of a sink that a 440 Hz tone is played into. TORVANE_SOUND_SERVER is
# "pulseaudio", "pipewire" or "none".
#
# --wayland: a headless Wayland desktop with the screen cast portal instead of Xvfb (see
# wayland-desktop.sh); DISPLAY is then its XWayland.
#
# --camera adds a virtual camera published through a private PipeWire (tests/env/virtual-camera.sh).
#
# The command sees DISPLAY, PULSE_SERVER, XDG_CONFIG_HOME, XDG_RUNTIME_DIR, HOME and TORVANE_TEST_ENV
# (the private folder) in its environment, and TORVANE_XVFB_PID / TORVANE_PULSE_PID for tests of
# a server going away.
set -u

sound=1
tray=0
wayland=0
camera=0
screen=1280x720
xvfb_extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --no-sound) sound=0; shift ;;
    --pipewire) sound=2; shift ;;
    --tray) tray=1; shift ;;
    --wayland) wayland=1; shift ;;
    --camera) camera=1; shift ;;
    --no-damage) xvfb_extra+=(-extension DAMAGE); shift ;;
    --screen) screen="$2"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: with-env.sh [--no-sound | --pipewire] [--screen WxH] [--tray] [--wayland] [--camera] -- command..." >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d "${TMPDIR:-/tmp}/torvane-env.XXXXXX")
pids=()
# Every process started under this one, deepest last.
descendants() {
  local c
  for c in $(pgrep -P "$1"); do echo "$c"; descendants "$c"; done
}
cleanup() {
  [ "$wayland" = 1 ] && pids=($(wayland_bus_children) "${pids[@]}")
  # Taken before anything ends: a helper killed in the middle of a command leaves that command
  # to init, where it may hold the test's output open for good.
  local tree
  tree=$(descendants $$)
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done
    kill -9 "$p" 2>/dev/null
  done
  for p in $tree; do kill -9 "$p" 2>/dev/null; done
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$dir/home" "$dir/config" "$dir/runtime" "$dir/documents"
chmod 700 "$dir/runtime"
export HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/runtime"
export XDG_DOCUMENTS_DIR="$dir/documents" TORVANE_TEST_ENV="$dir"
unset DBUS_SESSION_BUS_ADDRESS

if [ "$wayland" = 1 ]; then
  . "$(dirname "${BASH_SOURCE[0]}")/wayland-desktop.sh"
  wayland_desktop_start "$dir" "$screen" || { echo "with-env: the Wayland desktop did not start" >&2; exit 1; }
else
  # An X11 desktop even when started from a Wayland session.
  unset WAYLAND_DISPLAY
  export XDG_SESSION_TYPE=x11
  # Xvfb picks a free display number itself and tells it on the file descriptor we give it.
  exec 9>"$dir/display"
  Xvfb -displayfd 9 -screen 0 "${screen}x24" -nolisten tcp -noreset +extension MIT-SHM "${xvfb_extra[@]}" \
    >"$dir/xvfb.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do [ -s "$dir/display" ] && break; sleep 0.05; done
  exec 9>&-
  [ -s "$dir/display" ] || { echo "with-env: Xvfb did not start:" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$dir/display")"
  # Fault tests end the servers themselves.
  export TORVANE_XVFB_PID=${pids[0]}
fi

if [ "$sound" = 1 ]; then
  sock="$dir/runtime/pulse.sock"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --load="module-native-protocol-unix socket=$sock auth-anonymous=1" \
    --load="module-null-sink sink_name=torvane_sink rate=44100 channels=2" \
    --load="module-sine-source source_name=torvane_sine rate=44100 frequency=440" \
    --load="module-always-sink" \
    >"$dir/pulse.log" 2>&1 &
  pids+=($!)
  export PULSE_SERVER="unix:$sock" TORVANE_PULSE_PID=$!
  ok=0
  for _ in $(seq 200); do pactl info >/dev/null 2>&1 && { ok=1; break; }; sleep 0.05; done
  [ $ok = 1 ] || { echo "with-env: PulseAudio did not start:" >&2; cat "$dir/pulse.log" >&2; exit 1; }
  pactl set-default-sink torvane_sink >/dev/null
  pactl set-default-source torvane_sine >/dev/null
  export TORVANE_SOUND_SERVER=pulseaudio
elif [ "$sound" = 2 ]; then
  # shellcheck source=pipewire.sh
  . "$here/pipewire.sh"
  sock="$dir/runtime/pulse.sock"
  pw_start_all "$dir" "$sock" || exit 1
  export PULSE_SERVER="unix:$sock"
  # The microphone's tone is played into a mono null sink of its own, with two seconds of it held
  # in the server so that a busy machine cannot starve the player; the microphone is a remapped
  # source of that sink's monitor (as a microphone is, not a monitor), at 0.25 of full scale.
  # (A generator node inside the server stopped delivering for good once streams had come and
  # gone on it a few times.)
  # Ten seconds: a whole number of 440 Hz periods, so the loop joins without a click.
  ffmpeg -v error -f lavfi -i "aevalsrc=0.25*sin(2*PI*440*t):s=44100:d=10" -ac 1 -f s16le "$dir/tone.raw" ||
    { echo "with-env: the test tone could not be made" >&2; exit 1; }
  pactl load-module module-null-sink sink_name=torvane_mic_feed rate=44100 channels=1 channel_map=mono \
      sink_properties=node.description=Test-microphone-feed >/dev/null &&
    pactl load-module module-null-sink sink_name=torvane_sink rate=44100 channels=2 >/dev/null &&
    pactl load-module module-remap-source source_name=torvane_sine master=torvane_mic_feed.monitor channels=1 \
      >/dev/null || { echo "with-env: PipeWire sinks could not be made:" >&2; tail "$dir"/pipewire*.log >&2; exit 1; }
  pactl set-default-sink torvane_sink >/dev/null
  pactl set-default-source torvane_sine >/dev/null
  defaults_taken() { [ "$(pactl get-default-sink)" = torvane_sink ] && [ "$(pactl get-default-source)" = torvane_sine ]; }
  pw_wait_for 50 defaults_taken || { echo "with-env: PipeWire defaults were not taken" >&2; exit 1; }
  # Started once the defaults are taken, and bound to its sink: the session manager moves a stream
  # that may follow the default sink, and the tone would then be heard as system sound.
  ( while :; do cat "$dir/tone.raw" || exit; done |
      pacat --playback --device=torvane_mic_feed --format=s16le --rate=44100 --channels=1 --latency-msec=2000 \
        --stream-name="Test microphone tone" --property=node.dont-reconnect=true ) >"$dir/tone-player.log" 2>&1 &
  pids+=($!)
  tone_running() { pactl list short sinks | grep -q "^[0-9]*[[:space:]]torvane_mic_feed[[:space:]].*RUNNING"; }
  pw_wait_for 50 tone_running ||
    { echo "with-env: the test microphone's tone did not start:" >&2; cat "$dir/tone-player.log" >&2; exit 1; }
  export TORVANE_SOUND_SERVER=pipewire
else
  export PULSE_SERVER="unix:$dir/runtime/no-such-server"
  export TORVANE_SOUND_SERVER=none
fi

if [ "$tray" = 1 ] && command -v stalonetray >/dev/null; then
  stalonetray --geometry 4x1+0+0 >"$dir/tray.log" 2>&1 &
  pids+=($!)
elif [ "$tray" = 1 ] && command -v trayer >/dev/null; then
  # Debian 12 has no stalonetray; trayer is a stand-alone XEmbed tray that needs no window manager.
  trayer --edge top --align right --widthtype request --height 24 --transparent false \
    >"$dir/tray.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do xwininfo -root -children 2>/dev/null | grep -q '"panel"' && break; sleep 0.05; done
fi

if [ "$camera" = 1 ]; then
  . "$(dirname "$0")/virtual-camera.sh"
  camera_start || exit 1
fi

"$@"
