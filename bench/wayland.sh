#!/usr/bin/env bash
# The Wayland source (screen cast portal + PipeWire, on a headless Wayland desktop) against the
# X11 source (on a private X server) with the same content in one run: desktop-animator's workloads,
# 1280x720, 30 fps. On the Wayland desktop the animator's window is an XWayland one; the X11 source
# is measured on a plain X server, as X11 desktops run it (XWayland's root shows no windows).
# Both desktops run at once and the two sources take turns workload by workload, so both meet the
# same load from the rest of the machine. The portal may pass up to 60 pictures a second here, so
# its own pacing does not thin the animator's 30; the headless compositor still passes about 20 of
# them (as many at 30 or 60), so the Wayland side encodes fewer pictures than the X11 side.
# CPU is per recorded second; "outside" is the part of it not spent in x264, the part the source
# decides; "run" is that part without Start ("start": its CPU in ms, spent once a recording: for a
# screen cast the portal's requests); "out/pic" is "outside" in milliseconds per picture encoded,
# comparable when one side encodes fewer pictures (a busy machine makes positions late).
#   BENCH_PART=wayland bench/run.sh [build folder] [seconds]
#   BENCH_WORKLOADS as in run.sh; BENCH_WATERMARK=1: a watermark stamped on both, so both draw
#   on every picture
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
inside=""
[ "${1:-}" = --inside ] && { inside=1; shift; }
build=${1:-$here/build}
seconds=${2:-10}
workloads=${BENCH_WORKLOADS:-still typing motion}
[ -x "$build/bench/bench-record" ] || { echo "build first: scripts/setup.sh" >&2; exit 1; }
if [ -z "$inside" ]; then
  results=$(mktemp -d)
  trap 'rm -rf "$results"' EXIT
fi

# One workload with one source, in the current environment: one line into $results/SOURCE.
measure_one() {   # WORKLOAD SOURCE
  local workload=$1 source=$2 out=$TORVANE_TEST_ENV anim
  "$build/bench/desktop-animator" "$workload" & anim=$!
  sleep 1
  "$build/bench/bench-record" "$out/$workload.avi" "$seconds" 30 >"$out/$workload.txt"
  kill $anim; wait $anim 2>/dev/null
  awk -v w="$workload" -v src="$source" -v e="$((seconds * 30))" -v load="$(cut -d" " -f1 /proc/loadavg)" "
    /^filled/ {f = \$2} /^pictures/ {p = \$2; l = \$6} /^cpu_per_second / {c = \$2} /^outside_encoder_share/ {o = \$2}
    /^start_cpu_seconds/ {st = \$2} /^cpu_per_second_after_start/ {ca = \$2}
    END {printf \"%-8s %-8s %7.4f %7.4f %7.4f %6.1f %6.1f%% %5d %5d %7.3f %5s\n\", w, src, c, c * o, ca - c * (1 - o),
         1000 * st, 100 * f / e, p, l, (p > 0 ? 1000 * c * o * $seconds / p : 0), load}" "$out/$workload.txt" >>"$results/$source"
  [ -n "${BENCH_VERBOSE:-}" ] && sed -n "s/^\(stage_ms\|outside_encoder_share\|loss\)/$source $workload &/p" "$out/$workload.txt" >&2
  true
}

if [ -n "$inside" ]; then
  # Inside both desktops (see below): the X11 one is the current environment, the Wayland one's
  # variables are in the file $4.
  results=$3 wayland_env=$4
  for workload in $workloads; do
    measure_one "$workload" x11
    (. "$wayland_env" && measure_one "$workload" wayland)
  done
  exit 0
fi

echo "load before: $(cut -d" " -f1-3 /proc/loadavg) on $(nproc) cores; $seconds s a workload, 1280x720, 30 fps"
[ -n "${BENCH_WATERMARK:-}" ] && export TORVANE_BENCH_WATERMARK=1 && echo "with a watermark"
# The Wayland desktop outside, the X11 one inside it; the Wayland one's variables kept for its turns.
TORVANE_WL_MAX_FPS=60 "$here/tests/env/with-env.sh" --wayland --no-sound --screen 1280x720 -- bash -c '
  export -p >"$TORVANE_TEST_ENV/wayland.env"
  exec "$1/tests/env/with-env.sh" --no-sound --screen 1280x720 -- "$1/bench/wayland.sh" --inside "${@:2}" \
    "$TORVANE_TEST_ENV/wayland.env"
' bench "$here" "$build" "$seconds" "$results"
printf "%-8s %-8s %7s %7s %7s %6s %7s %5s %5s %7s %5s\n" workload source cpu outside run start filled pics late out/pic load
for workload in $workloads; do
  wl=$(grep "^$workload " "$results/wayland"); x=$(grep "^$workload " "$results/x11")
  echo "$wl"; echo "$x"
  awk -v a="$(awk '{print $4}' <<<"$wl")" -v b="$(awk '{print $4}' <<<"$x")" \
      -v ra="$(awk '{print $5}' <<<"$wl")" -v rb="$(awk '{print $5}' <<<"$x")" \
      -v pa="$(awk '{print $10}' <<<"$wl")" -v pb="$(awk '{print $10}' <<<"$x")" \
    'function q(n, d) {return d > 0 ? n / d : 0}
     BEGIN{printf "%-8s outside the encoder, wayland / x11: %.2f a second (%.2f after Start), %.2f a picture\n", "",
           q(a, b), q(ra, rb), q(pa, pb)}'
done
echo "load after: $(cut -d" " -f1-3 /proc/loadavg)"
