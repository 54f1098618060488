# Shell functions that start a private PipeWire session inside a test environment. Sourced by
# with-env.sh (or any script that keeps the same two things: a private folder and a `pids` array
# whose entries are killed on exit). Nothing of the machine's own session is used: the session bus,
# the PipeWire socket and the PulseAudio-protocol socket all live in the folder given.
#
#   pw_start_session_bus DIR      private dbus-daemon; exports DBUS_SESSION_BUS_ADDRESS
#   pw_start_pipewire DIR         pipewire on $XDG_RUNTIME_DIR/pipewire-0 (XDG_RUNTIME_DIR must be private)
#   pw_start_wireplumber DIR      the session manager (needs the bus and pipewire)
#   pw_start_pulse DIR SOCKET     pipewire-pulse listening on the unix socket path SOCKET
#   pw_start_all DIR [SOCKET]     all of the above in order; the last one only when SOCKET is given
#
# Each returns 0 once the service answers, non-zero (with its log on stderr) when it does not.
# Logs go to DIR/<name>.log.

# Waits up to $1 tenths of a second for the command after it to succeed.
pw_wait_for() {
  local tenths=$1; shift
  local i
  for ((i = 0; i < tenths; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

pw_fail() {
  echo "pipewire.sh: $1 did not start:" >&2
  [ -f "$2" ] && tail -n 30 "$2" >&2
  return 1
}

pw_start_session_bus() {
  local dir=$1
  local bus="$dir/session-bus"
  dbus-daemon --session --nofork --nopidfile --address="unix:path=$bus" >"$dir/dbus.log" 2>&1 &
  pids+=($!)
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$bus"
  pw_wait_for 100 test -S "$bus" || { pw_fail dbus-daemon "$dir/dbus.log"; return 1; }
  pw_wait_for 50 dbus-send --session --dest=org.freedesktop.DBus --type=method_call --print-reply \
    /org/freedesktop/DBus org.freedesktop.DBus.GetId || { pw_fail dbus-daemon "$dir/dbus.log"; return 1; }
}

pw_start_pipewire() {
  local dir=$1
  [ -n "${XDG_RUNTIME_DIR:-}" ] || { echo "pipewire.sh: XDG_RUNTIME_DIR is not set" >&2; return 1; }
  # Never talk to the machine's own daemon, whatever the caller's environment says.
  unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
  pipewire >"$dir/pipewire.log" 2>&1 &
  pids+=($!)
  pw_wait_for 150 test -S "$XDG_RUNTIME_DIR/pipewire-0" || { pw_fail pipewire "$dir/pipewire.log"; return 1; }
  pw_wait_for 100 pw-cli info 0 || { pw_fail pipewire "$dir/pipewire.log"; return 1; }
}

# The session manager is ready once it has published the "default" metadata (it does that after
# its policy scripts are loaded; defaults set before then would be lost).
pw_wireplumber_ready() {
  pw-cli ls Metadata 2>/dev/null | grep -q 'metadata.name = "default"'
}

pw_start_wireplumber() {
  local dir=$1
  [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || { echo "pipewire.sh: no session bus for wireplumber" >&2; return 1; }
  wireplumber >"$dir/wireplumber.log" 2>&1 &
  pids+=($!)
  pw_wait_for 150 pw_wireplumber_ready || { pw_fail wireplumber "$dir/wireplumber.log"; return 1; }
}

pw_start_pulse() {
  local dir=$1 socket=$2
  local conf="$dir/pipewire-pulse.conf"
  # Same configuration as the system's, listening on our socket only.
  sed "s#\"unix:native\"#\"unix:$socket\"#" /usr/share/pipewire/pipewire-pulse.conf >"$conf"
  pipewire-pulse -c "$conf" >"$dir/pipewire-pulse.log" 2>&1 &
  pids+=($!)
  pw_wait_for 150 env PULSE_SERVER="unix:$socket" pactl info ||
    { pw_fail pipewire-pulse "$dir/pipewire-pulse.log"; return 1; }
}

pw_start_all() {
  local dir=$1 socket=${2:-}
  pw_start_session_bus "$dir" || return 1
  pw_start_pipewire "$dir" || return 1
  pw_start_wireplumber "$dir" || return 1
  if [ -n "$socket" ]; then pw_start_pulse "$dir" "$socket" || return 1; fi
}
