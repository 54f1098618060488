#!/usr/bin/env bash
# Sound clock drift: a microphone whose clock is off by a few hundred ppm (a pipe source fed by
# tests/env/skewed-source.py), recorded for a long time with the picture changed and a tone made at
# the same moment near the end. Prints each source's measured clock offset and how far the tone and
# the end of the sound are from where the recording clock puts them (both readers).
#   bench/drift.sh [build folder] [seconds, default 600] [ppm list, default "200 -200"]
# The runs go side by side, each in its own private environment.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-600}
ppms=${3:-200 -200}
test=$build/tests/system/engine/engine_drift_tests
[ -x "$test" ] || { echo "build first: scripts/setup.sh" >&2; exit 1; }
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
echo "== sound clock drift: ${seconds} s, skew $ppms ppm =="
pids=()
for ppm in $ppms; do
  TORVANE_DRIFT_PPM=$ppm TORVANE_DRIFT_CHANGE_SECONDS=$((seconds - 2)) \
    "$here/tests/env/with-env.sh" -- "$test" --gtest_filter=Drift.ChosenSkew >"$logs/$ppm.log" 2>&1 &
  pids+=($!)
done
status=0
for p in "${pids[@]}"; do wait "$p" || status=1; done
for ppm in $ppms; do
  grep -E "ppm \(measured|^offset|Failure|Expected|Which is|actual" "$logs/$ppm.log" | sed "s/^/[$ppm ppm] /"
  grep -qE "^\[  PASSED  \] 1 test" "$logs/$ppm.log" || { echo "[$ppm ppm] FAILED"; status=1; }
done
exit $status
