#!/usr/bin/env bash
# Screen-recording benchmark: ours against ffmpeg's x11grab with libx264 at the same encoder
# settings and as people run it (-preset veryfast, threads auto), on the same private display with
# the same desktop-like content, in one run: six workloads (bench/DesktopAnimator.cpp) at four
# sizes, and full motion with one core kept busy.
#   bench/run.sh [build folder] [seconds] [seconds with sound]   (BENCH_PART=screen, sound or webcam: one part;
#   BENCH_WORKLOADS="still motion": some workloads; BENCH_SIZES="2560x1440 3840x2160": other sizes;
#   BENCH_NO_BUSY=1: without the busy-core run)
#   BENCH_PART=wayland bench/run.sh [build folder] [seconds]: the Wayland source against X11 (bench/wayland.sh)
#   BENCH_PART=long bench/run.sh [build folder] [seconds, default 3600]: the long run alone, its
#   resident memory sampled every BENCH_SAMPLE_SECONDS (default 60)
#   BENCH_PART=drift bench/run.sh [build folder] [seconds, default 600]: sound clock drift alone (bench/drift.sh)
#   BENCH_PART=mp4 bench/run.sh [build folder] [seconds]: AVI against MP4 with sound on a still 1080p desktop
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-10}
[ -x "$build/bench/bench-record" ] || { echo "build first: scripts/setup.sh" >&2; exit 1; }
# The webcam alone and as a picture in picture: bench/webcam.sh.
[ "${BENCH_PART:-all}" = webcam ] && exec "$here/bench/webcam.sh" "$build" "${2:-20}"

if [ "${BENCH_PART:-all}" = drift ]; then exec "$here/bench/drift.sh" "$build" "${2:-600}"; fi

# One workload at one size: ours, then ffmpeg on the same content; one line of figures each.
one_workload() {   # WORKLOAD WxH [busy]
  local workload=$1 size=$2 busy=${3:-}
  "$here/tests/env/with-env.sh" --no-sound --screen "$size" -- bash -c '
    set -u
    build=$1; seconds=$2; size=$3; workload=$4; busy=$5; out=$TORVANE_TEST_ENV
    "$build/bench/desktop-animator" "$workload" & anim=$!
    # One core kept busy by another program, for the headroom figure.
    if [ -n "$busy" ]; then ( while :; do :; done ) & spin=$!; fi
    sleep 1
    ours=$("$build/bench/bench-record" "$out/ours.avi" "$seconds" 30)
    # The same threads as ours: the cores (at most 4, fewer for small pictures), sharing each picture by slices.
    rows=$(( (${size#*x} + 15) / 16 )); threads=$(nproc); [ $threads -gt 4 ] && threads=4
    [ $threads -gt $((rows / 8)) ] && threads=$((rows / 8)); [ $threads -lt 1 ] && threads=1
    /usr/bin/time -f "%U %S %M" -o "$out/ffmpeg.time" ffmpeg -nostdin -hide_banner -loglevel info -f x11grab \
        -framerate 30 -video_size "$size" -draw_mouse 1 \
        -i "$DISPLAY+0,0" -t "$seconds" -c:v libx264 -threads $threads -qp 26 -bf 0 -refs 1 -subq 6 -me_method hex \
        -8x8dct 0 -coder 1 -pix_fmt yuv420p \
        -x264-params rc-lookahead=0:sync-lookahead=0:mbtree=0:scenecut=0:weightp=0:sliced-threads=1 \
        -y "$out/ffmpeg.avi" 2>"$out/ffmpeg.log"
    # ffmpeg as people run it: its fast preset, threads as it chooses.
    /usr/bin/time -f "%U %S %M" -o "$out/veryfast.time" ffmpeg -nostdin -hide_banner -loglevel info -f x11grab \
        -framerate 30 -video_size "$size" -draw_mouse 1 \
        -i "$DISPLAY+0,0" -t "$seconds" -c:v libx264 -preset veryfast -pix_fmt yuv420p \
        -y "$out/veryfast.mkv" 2>"$out/veryfast.log"
    [ -n "$busy" ] && { kill $spin; wait $spin 2>/dev/null; }
    kill $anim; wait $anim 2>/dev/null
    read -r fu fs frss < "$out/ffmpeg.time"
    read -r vu vs vrss < "$out/veryfast.time"
    expected=$((seconds * 30))
    fill() {   # ffmpeg log: its pictures of their own (not duplicated) per position, in %
      local stats frames dup
      stats=$(tr "\r" "\n" < "$1" | grep -E "^frame=" | tail -n1)
      frames=$(sed -E "s/.*frame= *([0-9]+).*/\1/" <<<"$stats")
      dup=$(grep -oE "dup=[0-9]+" <<<"$stats" | cut -d= -f2); dup=${dup:-0}
      awk -v a="$((frames - dup))" -v b="$expected" "BEGIN{print 100*a/b}"
    }
    filled=$(awk "/^filled/{print \$2}" <<<"$ours")
    pictures=$(awk "/^pictures/{print \$2}" <<<"$ours")
    late=$(awk "/^pictures/{print \$6}" <<<"$ours")
    cpu=$(awk "\$1 == \"cpu_per_second\" {print \$2}" <<<"$ours")
    rss=$(awk "/^peak_rss_kb/{print \$2}" <<<"$ours")
    faster=$(awk "/^faster/{print \$2}" <<<"$ours")
    ff_cpu=$(awk -v u="$fu" -v s="$fs" -v t="$seconds" "BEGIN{printf \"%.4f\", (u+s)/t}")
    vf_cpu=$(awk -v u="$vu" -v s="$vs" -v t="$seconds" "BEGIN{printf \"%.4f\", (u+s)/t}")
    printf "%-8s %-9s %6.3f %6.3f %6.3f %5.1f%% %5d %4d %5d %6d %6.1f %6.1f %5.1f%% %6.3f %5.1f%% %6.1f\n" "$workload${busy:++busy}" "$size" \
      "$cpu" "$ff_cpu" "$(awk -v a="$cpu" -v b="$ff_cpu" "BEGIN{print a/b}")" \
      "$(awk -v a="$filled" -v b="$expected" "BEGIN{print 100*a/b}")" "$pictures" "$late" "$expected" "$faster" \
      "$(awk -v k="$rss" "BEGIN{print k/1024}")" "$(awk -v k="$frss" "BEGIN{print k/1024}")" \
      "$(fill "$out/ffmpeg.log")" "$vf_cpu" "$(fill "$out/veryfast.log")" "$(awk -v k="$vrss" "BEGIN{print k/1024}")"
    [ -n "${BENCH_VERBOSE:-}" ] && grep -E "^stage_ms|^outside_encoder_share|^loss" <<<"$ours" >&2
    true
  ' bench "$build" "$seconds" "$size" "$workload" "$busy"
}

# AVI against MP4 (AAC sound encoded as it is recorded) on a still 1080p desktop with the microphone
# (the test sound server's is a sine tone), and ffmpeg's video-only figure of the same content.
if [ "${BENCH_PART:-all}" = mp4 ]; then
  "$here/tests/env/with-env.sh" --screen 1920x1080 -- bash -c '
    set -u
    build=$1; seconds=$2; out=$TORVANE_TEST_ENV
    "$build/bench/desktop-animator" still & anim=$!
    sleep 1
    /usr/bin/time -f "%U %S %M" -o "$out/ffmpeg.time" ffmpeg -nostdin -hide_banner -loglevel error -f x11grab \
        -framerate 30 -video_size 1920x1080 -draw_mouse 1 \
        -i "$DISPLAY+0,0" -t "$seconds" -c:v libx264 -threads 1 -qp 26 -bf 0 -refs 1 -subq 6 -me_method hex \
        -8x8dct 0 -coder 1 -pix_fmt yuv420p -x264-params rc-lookahead=0:sync-lookahead=0:mbtree=0:scenecut=0:weightp=0 \
        -y "$out/ffmpeg.avi"
    read -r fu fs frss < "$out/ffmpeg.time"
    ff_cpu=$(awk -v u="$fu" -v s="$fs" -v t="$seconds" "BEGIN{printf \"%.4f\", (u+s)/t}")
    echo "== still 1920x1080 at 30 fps with the microphone (a sine tone), $seconds s; ffmpeg (video only) $ff_cpu CPU s/s =="
    printf "%-9s %6s %6s %7s %6s %8s\n" container CPU ratio "sound" "RSS MB" "KB/s"
    for ext in avi mp4; do
      ours=$("$build/bench/bench-record" "$out/ours.$ext" "$seconds" 30 mic)
      cpu=$(awk "\$1 == \"cpu_per_second\" {print \$2}" <<<"$ours")
      snd=$(awk "/^sound_cpu_share/{print \$2}" <<<"$ours")
      rss=$(awk "/^peak_rss_kb/{print \$2}" <<<"$ours")
      size=$(stat -c %s "$out/ours.$ext")
      printf "%-9s %6.3f %6.3f %7.4f %6.1f %8.1f\n" "$ext" "$cpu" "$(awk -v a="$cpu" -v b="$ff_cpu" "BEGIN{print a/b}")" \
        "$snd" "$(awk -v k="$rss" "BEGIN{print k/1024}")" "$(awk -v b="$size" -v t="$seconds" "BEGIN{print b/1024/t}")"
    done
    kill $anim; wait $anim 2>/dev/null
    true
  ' bench "$build" "$seconds"
  exit 0
fi

# The Wayland source against the X11 source on one headless Wayland desktop: its own script.
[ "${BENCH_PART:-all}" = wayland ] && exec "$here/bench/wayland.sh" "$build" "$seconds"

# Long run: 1280x720, 30 fps, both sound sources; memory must stay flat apart from the writer's index
# (8 bytes a chunk), and sound and picture must end together.
if [ "${BENCH_PART:-all}" = long ]; then
  "$here/tests/env/with-env.sh" --screen 1280x720 -- bash -c '
    set -u
    build=$1; seconds=$2; every=$3; out=$TORVANE_TEST_ENV
    "$build/bench/desktop-animator" & anim=$!
    sleep 1
    "$build/bench/bench-record" "$out/long.avi" "$seconds" 30 both >"$out/long.txt" &
    rec=$!
    echo "== long run: 1280x720 at 30 fps, both sound sources, $seconds s =="
    start=$(date +%s)
    first=""
    while kill -0 $rec 2>/dev/null; do
      sleep "$every"
      rss=$(awk "/^VmRSS/{print \$2}" /proc/$rec/status 2>/dev/null) || break
      [ -n "$rss" ] || break
      t=$(( $(date +%s) - start ))
      [ "$t" -lt "$seconds" ] || break   # past the end the recorder is finishing the file
      [ -n "$first" ] || { first=$rss; first_t=$t; }
      echo "rss at ${t} s: ${rss} KiB"
      last=$rss; last_t=$t
    done
    wait $rec
    kill $anim; wait $anim 2>/dev/null
    grep -E "^filled|^loss" "$out/long.txt"
    # Positions from the header: empty (unchanged or late) positions are time too.
    v=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$out/long.avi")
    ac=$(ffprobe -v error -select_streams a:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$out/long.avi")
    a=$(ffmpeg -nostdin -v error -i "$out/long.avi" -map 0:a -f s16le -ac 1 - | wc -c)
    awk -v v="$v" -v a="$a" "BEGIN{printf \"video %.3f s, sound %.3f s, difference %.1f ms\n\", v/30, a/2/44100, (a/2/44100 - v/30)*1000}"
    if [ -n "$first" ] && [ "$last_t" -gt "$first_t" ]; then
      # The index grows by 8 bytes for each chunk written between the first and the last sample.
      awk -v f="$first" -v l="$last" -v ft="$first_t" -v lt="$last_t" -v s="$seconds" -v chunks=$((v + ac)) \
        "BEGIN{idx = chunks * 8 / 1024 * (lt - ft) / s; printf \"rss growth %d KiB from %d s to %d s, of it the index %.0f KiB, beyond it %.0f KiB\n\", l - f, ft, lt, idx, l - f - idx}"
    fi
  ' bench "$build" "${2:-3600}" "${BENCH_SAMPLE_SECONDS:-60}"
  exit 0
fi

if [ "${BENCH_PART:-all}" != sound ]; then
  echo "load before: $(cut -d" " -f1-3 /proc/loadavg) on $(nproc) cores; $seconds s a workload, 30 fps, pointer drawn"
  echo "CPU = CPU seconds per recorded second; filled = positions with their picture or empty entry in time;"
  echo "faster = pictures encoded at a faster step to keep pace; vf = ffmpeg -preset veryfast, threads auto"
  printf "%-8s %-9s %6s %6s %6s %6s %5s %4s %5s %6s %6s %6s %6s %6s %6s %6s\n" workload size ours ffmpeg ratio filled pics late posns \
    faster "RSS MB" "ff MB" "ff fill" "vf CPU" "vf fill" "vf MB"
  for size in ${BENCH_SIZES:-1280x720 1920x1080 2560x1440 3840x2160}; do
    for workload in ${BENCH_WORKLOADS:-still field region typing scroll motion}; do
      line=$(one_workload "$workload" "$size"); echo "$line"
      [ "$workload" = region ] && region_ff=$(awk '{print $4}' <<<"$line")
    done
    # The encoder alone at our settings, nothing grabbed or converted: no recording that encodes
    # every position can cost less. Set against ffmpeg's CPU for the region workload.
    if [ -n "${region_ff:-}" ]; then
      floor=$("$build/bench/encoder-floor" "$size" 300)
      awk -v size="$size" -v ff="$region_ff" -v f="$(awk '/^floor_ms/{print $2}' <<<"$floor")" \
          -v r="$(awk '/^region_ms/{print $2}' <<<"$floor")" -v t="$(awk '/^threads/{print $2}' <<<"$floor")" \
          'BEGIN{printf "encoder alone at %s (%d threads): %.2f ms a picture with nothing changed, %.2f ms with a 200x200 part changing = %.3f x ffmpeg region CPU\n", size, t, f, r, r * 30 / 1000 / ff}'
      region_ff=
    fi
  done
  [ -z "${BENCH_NO_BUSY:-}" ] && one_workload motion 1920x1080 busy
  echo "load after: $(cut -d" " -f1-3 /proc/loadavg)"
fi
[ "${BENCH_PART:-all}" = screen ] && exit 0
# Sound: a long recording with both sources mixed, at 1280x720 and 30 fps, on each sound server.
sound_seconds=${3:-600}
for server in pulseaudio pipewire; do
  flag=; [ "$server" = pipewire ] && flag=--pipewire
  "$here/tests/env/with-env.sh" $flag --screen 1280x720 -- bash -c '
  build=$1; seconds=$2; server=$3; here=$4; out=$TORVANE_TEST_ENV
  "$build/bench/desktop-animator" & anim=$!
  sleep 1
  ours=$("$build/bench/bench-record" "$out/sound.avi" "$seconds" 30 both)
  kill $anim; wait $anim 2>/dev/null
  v=$(python3 "$here/bench/avi-positions.py" "$out/sound.avi")   # empty positions are time too
  a=$(ffmpeg -nostdin -v error -i "$out/sound.avi" -map 0:a -f s16le -ac 1 - | wc -c)
  echo "== sound both on $server, 1280x720 at 30 fps, $seconds s =="
  awk -v v="$v" -v a="$a" "BEGIN{printf \"video %.3f s, sound %.3f s, difference %.1f ms\n\", v/30, a/2/44100, (a/2/44100 - v/30)*1000}"
  grep -E "^sound_cpu_share|^filled|^loss" <<<"$ours"
' bench "$build" "$sound_seconds" "$server" "$here"
done
