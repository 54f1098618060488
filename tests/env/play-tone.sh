#!/usr/bin/env bash
# Plays a sine tone into the default sink of the current sound server (inside with-env.sh).
#
#   play-tone.sh FREQUENCY_HZ SECONDS [AMPLITUDE 0..1, default 0.5]
#
# The tone is rendered to a file first, so that on PulseAudio playback starts within a few
# milliseconds of the moment paplay runs (the line "playing" is printed just before); PipeWire's
# server first has the session manager link the new stream (25-40 ms more, measured). Timing tests
# use a player connected ahead of time instead (tests/system/audio/TonePlayer.h). Exits with
# paplay's status.
set -eu
[ $# -ge 2 ] || { echo "usage: play-tone.sh FREQUENCY_HZ SECONDS [AMPLITUDE]" >&2; exit 2; }
freq=$1 seconds=$2 amp=${3:-0.5}
file=$(mktemp "${TORVANE_TEST_ENV:-${TMPDIR:-/tmp}}/tone.XXXXXX.wav")
trap 'rm -f "$file"' EXIT
ffmpeg -v error -y -f lavfi -i "aevalsrc=${amp}*sin(2*PI*${freq}*t):s=44100:d=${seconds}" \
  -ac 2 -c:a pcm_s16le "$file"
echo playing
paplay --latency-msec=20 "$file"
