#!/usr/bin/env bash
# A recording stopped while the recorder is hidden in the notification area is announced through
# the desktop's notification service, and the review question still follows.
#   notification_test.sh PROGRAM NOTIFICATION_SINK REAL_PROGRAM_TEST   (inside with-env.sh --tray)
set -u
program=$1 sink=$2 drive=$3
dir=$TORVANE_TEST_ENV
dbus-daemon --session --nofork --nopidfile --address="unix:path=$dir/runtime/bus" >"$dir/dbus.log" 2>&1 & bus=$!
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/runtime/bus"
for _ in $(seq 100); do [ -S "$dir/runtime/bus" ] && break; sleep 0.05; done
"$sink" >"$dir/notifications" 2>"$dir/sink.log" & sink_pid=$!
for _ in $(seq 100); do grep -q '^ready$' "$dir/notifications" 2>/dev/null && break; sleep 0.05; done
stop() { kill "$sink_pid" "$bus" 2>/dev/null; wait "$sink_pid" "$bus" 2>/dev/null; }
if ! grep -q '^ready$' "$dir/notifications"; then
  echo "FAIL: the notification service did not start: $(cat "$dir/sink.log" "$dir/dbus.log")"
  stop
  exit 1
fi
# The recorder driven as a user would: Start, hidden while recording, Ctrl+Alt+S, the review question.
"$drive" "$program"
rc=$?
sleep 0.5
stop
expected="Torvane Live Screen Recorder|torvane-recorder|Recording saved|unitled.avi in $XDG_DOCUMENTS_DIR|torvane-recorder"
got=$(grep -v '^ready$' "$dir/notifications")
if [ "$got" = "$expected" ]; then
  echo "ok: one notification: $got"
else
  echo "FAIL: notifications: \"$got\", expected \"$expected\""
  rc=1
fi
exit $rc
