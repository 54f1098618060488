#!/usr/bin/env bash
# The Wayland source (screen cast portal + PipeWire, on a headless Wayland desktop) against the
# X11 source (on a private X server) with the same content in one run: desktop-animator's workloads,
# 1280x720, 30 fps. On the Wayland desktop the animator's window is an XWayland one; the X11 source
# is measured on a plain X server, as X11 desktops run it (XWayland's root shows no windows).
# CPU is per recorded second; "outside" is the part of it not spent in x264, the part the source
# decides.
#   BENCH_PART=wayland bench/run.sh [build folder] [seconds]   (BENCH_WORKLOADS as in run.sh)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-10}
workloads=${BENCH_WORKLOADS:-still typing motion}
[ -x "$build/bench/bench-record" ] || { echo "build first: scripts/setup.sh" >&2; exit 1; }
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

# measure SOURCE: one line a workload into $results/SOURCE, inside the current environment.
measure='
  set -u
  build=$1; seconds=$2; workloads=$3; source=$4; results=$5; out=$TORVANE_TEST_ENV
  for workload in $workloads; do
    "$build/bench/desktop-animator" "$workload" & anim=$!
    sleep 1
    "$build/bench/bench-record" "$out/$workload.avi" "$seconds" 30 >"$out/$workload.txt"
    kill $anim; wait $anim 2>/dev/null
    awk -v w="$workload" -v src="$source" -v e="$((seconds * 30))" "
      /^filled/ {f = \$2} /^pictures/ {p = \$2; l = \$6} /^cpu_per_second/ {c = \$2} /^outside_encoder_share/ {o = \$2}
      END {printf \"%-8s %-8s %7.4f %7.4f %6.1f%% %5d %5d\n\", w, src, c, c * o, 100 * f / e, p, l}" \
      "$out/$workload.txt" >>"$results/$source"
    [ -n "${BENCH_VERBOSE:-}" ] && sed -n "s/^\(stage_ms\|outside_encoder_share\|loss\)/$source $workload &/p" "$out/$workload.txt" >&2
  done
'
echo "load before: $(cut -d" " -f1-3 /proc/loadavg) on $(nproc) cores; $seconds s a workload, 1280x720, 30 fps"
"$here/tests/env/with-env.sh" --wayland --no-sound --screen 1280x720 -- \
  bash -c "$measure" bench "$build" "$seconds" "$workloads" wayland "$results"
"$here/tests/env/with-env.sh" --no-sound --screen 1280x720 -- \
  bash -c "$measure" bench "$build" "$seconds" "$workloads" x11 "$results"
printf "%-8s %-8s %7s %7s %7s %5s %5s\n" workload source cpu outside filled pics late
for workload in $workloads; do
  wl=$(grep "^$workload " "$results/wayland"); x=$(grep "^$workload " "$results/x11")
  echo "$wl"; echo "$x"
  awk -v a="$(awk '{print $4}' <<<"$wl")" -v b="$(awk '{print $4}' <<<"$x")" \
    'BEGIN{printf "%-8s outside the encoder, wayland / x11: %.2f\n", "", (b > 0 ? a / b : 0)}'
done
echo "load after: $(cut -d" " -f1-3 /proc/loadavg)"
