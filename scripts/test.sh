#!/usr/bin/env bash
# Builds and runs every test: a normal build, the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the threaded engine and sound tests under ThreadSanitizer.
# The tests start their own virtual display and sound server.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
status=0
jobs=$(nproc)

run_suite() {   # name, build folder, ctest arguments...
  local name=$1 dir=$2
  shift 2
  echo "=== $name ==="
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@" || status=1
}

scripts/setup.sh build || exit 1
run_suite "tests" build

scripts/setup.sh build-asan -DTORVANE_SANITIZE=address,undefined || exit 1
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite "tests under AddressSanitizer and UndefinedBehaviorSanitizer" build-asan

scripts/setup.sh build-tsan -DTORVANE_SANITIZE=thread || exit 1
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$here/tests/env/tsan-suppressions.txt" \
  run_suite "threaded tests under ThreadSanitizer" build-tsan \
    -R '^(engine_|sound_|alsa_|Avi|CaptureThreads|ClockDrift|SoundResampler|AudioRing|SampleMixing|Encoder|FrameClock|system_record_tool|test_global_shortcuts|test_wayland_pointer)'

# Fuzz targets, built with clang's libFuzzer in their own folder (only what they need), each run for
# a bounded time; the normal builds above already replayed their corpora.
echo "=== fuzz targets ==="
export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=1
if CC=clang-14 CXX=clang++-14 cmake -S "$here" -B "$here/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
     -DTORVANE_FUZZ=ON -DTORVANE_SANITIZE=address,undefined,fuzzer-no-link >/dev/null &&
   cmake --build "$here/build-fuzz" -j"$jobs" --target torvane_fuzzers; then
  ctest --test-dir "$here/build-fuzz" --output-on-failure -L fuzz || status=1
else
  status=1
fi

exit $status
