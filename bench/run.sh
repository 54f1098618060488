#!/usr/bin/env bash
# Screen-recording benchmark: ours against ffmpeg's x11grab with libx264 at the same encoder
# settings, on the same private display with the same moving desktop-like content, in one run.
#   bench/run.sh [build folder] [seconds] [seconds with sound]   (BENCH_PART=screen or sound: one part)
#   BENCH_PART=long bench/run.sh [build folder] [seconds, default 3600]: the long run alone, its
#   resident memory sampled every BENCH_SAMPLE_SECONDS (default 60)
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
seconds=${2:-20}
[ -x "$build/bench/bench-record" ] || { echo "build first: scripts/setup.sh" >&2; exit 1; }

one_size() {   # WxH
  local size=$1
  "$here/tests/env/with-env.sh" --no-sound --screen "$size" -- bash -c '
    set -u
    build=$1; seconds=$2; size=$3; out=$TORVANE_TEST_ENV
    "$build/bench/desktop-animator" & anim=$!
    sleep 1
    ours=$("$build/bench/bench-record" "$out/ours.avi" "$seconds" 30)
    TIMEFORMAT="%U %S"
    { time ffmpeg -nostdin -hide_banner -loglevel info -f x11grab -framerate 30 -video_size "$size" -draw_mouse 1 \
        -i "$DISPLAY+0,0" -t "$seconds" -c:v libx264 -threads 1 -qp 26 -bf 0 -refs 1 -subq 6 -me_method hex \
        -8x8dct 0 -coder 1 -pix_fmt yuv420p -x264-params rc-lookahead=0:sync-lookahead=0:mbtree=0:scenecut=40 \
        -y "$out/ffmpeg.avi" 2>"$out/ffmpeg.log" ; } 2>"$out/ffmpeg.time"
    kill $anim; wait $anim 2>/dev/null
    read -r fu fs < "$out/ffmpeg.time"
    stats=$(tr "\r" "\n" < "$out/ffmpeg.log" | grep -E "^frame=" | tail -n1)
    frames=$(sed -E "s/.*frame= *([0-9]+).*/\1/" <<<"$stats")
    dup=$(grep -oE "dup=[0-9]+" <<<"$stats" | cut -d= -f2); dup=${dup:-0}
    expected=$((seconds * 30))
    ours_filled=$(awk "/^filled/{print \$2}" <<<"$ours")
    ours_cpu=$(awk "/^cpu_per_second/{print \$2}" <<<"$ours")
    ff_cpu=$(awk -v u="$fu" -v s="$fs" -v t="$seconds" "BEGIN{printf \"%.4f\", (u+s)/t}")
    ff_filled=$((frames - dup))
    echo "== $size at 30 fps, $seconds s =="
    printf "positions filled   ours %d/%d (%.1f%%)   ffmpeg %d/%d (%.1f%%)\n" "$ours_filled" "$expected" \
      "$(awk -v a="$ours_filled" -v b="$expected" "BEGIN{print 100*a/b}")" "$ff_filled" "$expected" \
      "$(awk -v a="$ff_filled" -v b="$expected" "BEGIN{print 100*a/b}")"
    printf "CPU s per recorded s  ours %s   ffmpeg %s   ratio ours/ffmpeg %.3f\n" "$ours_cpu" "$ff_cpu" \
      "$(awk -v a="$ours_cpu" -v b="$ff_cpu" "BEGIN{print a/b}")"
    grep -E "^stage_ms_per_frame|^outside_encoder_share|^loss" <<<"$ours"
  ' bench "$build" "$seconds" "$size"
}

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
  one_size 1920x1080
  one_size 1280x720
fi
[ "${BENCH_PART:-all}" = screen ] && exit 0

# Sound: a long recording with both sources mixed, at 1280x720 and 30 fps.
sound_seconds=${3:-600}
"$here/tests/env/with-env.sh" --screen 1280x720 -- bash -c '
  build=$1; seconds=$2; out=$TORVANE_TEST_ENV
  "$build/bench/desktop-animator" & anim=$!
  sleep 1
  ours=$("$build/bench/bench-record" "$out/sound.avi" "$seconds" 30 both)
  kill $anim; wait $anim 2>/dev/null
  v=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$out/sound.avi")
  a=$(ffmpeg -nostdin -v error -i "$out/sound.avi" -map 0:a -f s16le -ac 1 - | wc -c)
  echo "== sound both, 1280x720 at 30 fps, $seconds s =="
  awk -v v="$v" -v a="$a" "BEGIN{printf \"video %.3f s, sound %.3f s, difference %.1f ms\n\", v/30, a/2/44100, (a/2/44100 - v/30)*1000}"
  grep -E "^sound_cpu_share|^filled|^loss" <<<"$ours"
' bench "$build" "$sound_seconds"
