#!/usr/bin/env bash
# Installs the build into a private staging folder (DESTDIR, prefix /usr, stripped as a package is) and uses it from there
# alone: the installed torvane-record records 2 s on the test display, the installed recorder starts
# with its shortcut library from the private library folder and opens the installed help page.
#   install_tree_test.sh BUILD_DIR      (inside tests/env/with-env.sh --tray)
set -u
build=$1
env_dir=$TORVANE_TEST_ENV
root=$env_dir/root
passed=0
failed=0
app=
ok() { echo "ok: $*"; passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }
finish() {
  [ -n "$app" ] && kill "$app" 2>/dev/null
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}
wait_for() {   # seconds, command...
  local t=$1; shift
  for _ in $(seq $((t * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}

if ! DESTDIR=$root cmake --install "$build" --prefix /usr --strip >"$env_dir/install.log" 2>&1; then
  cat "$env_dir/install.log"
  bad "cmake --install failed"
  finish
fi
usr=$root/usr
recorder=$usr/bin/TorvaneRecorder
record=$usr/bin/torvane-record
lib=$(find "$usr/lib" -name libScreenCapture.so -path '*/torvane-recorder/*' | head -n1)

# What a desktop and man(1) look up by name must be where they look.
missing=""
for f in bin/TorvaneRecorder bin/torvane-record share/applications/torvane-recorder.desktop \
         share/metainfo/example.torvane.recorder.metainfo.xml share/icons/hicolor/scalable/apps/torvane-recorder.svg \
         share/icons/hicolor/48x48/apps/torvane-recorder.png share/icons/hicolor/256x256/apps/torvane-recorder.png \
         share/man/man1/torvane-record.1.gz share/man/man1/TorvaneRecorder.1.gz share/torvane-recorder/help/recorder.html \
         share/doc/torvane-recorder/copyright share/doc/torvane-recorder/changelog.gz; do
  [ -s "$usr/$f" ] || missing="$missing $f"
done
[ -n "$lib" ] || missing="$missing lib/.../torvane-recorder/libScreenCapture.so"
[ -z "$missing" ] && ok "installed files in place" || bad "not installed:$missing"
icon=$(sed -n 's/^Icon=//p' "$usr/share/applications/torvane-recorder.desktop")
exec_name=$(sed -n 's/^Exec=//p' "$usr/share/applications/torvane-recorder.desktop" | cut -d' ' -f1)
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$usr/share/metainfo/"*.metainfo.xml)
if [ -e "$usr/share/icons/hicolor/48x48/apps/$icon.png" ] && [ -x "$usr/bin/$exec_name" ] &&
   [ -e "$usr/share/applications/$launchable" ]; then
  ok "the desktop entry's Exec and Icon and the metadata's launchable name installed files"
else
  bad "desktop entry Exec=$exec_name Icon=$icon, launchable $launchable: not all installed"
fi
size=$(identify -format '%wx%h' "$usr/share/icons/hicolor/256x256/apps/torvane-recorder.png" 2>&1)
[ "$size" = 256x256 ] && ok "the 256 px icon is 256x256" || bad "the 256 px icon is $size"

# The installed programs carry no path into the build tree; the shortcut library resolves inside the staging root.
runpath=$(readelf -d "$recorder" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
case "$runpath" in
  '$ORIGIN/../'*torvane-recorder) ok "TorvaneRecorder's RUNPATH is $runpath" ;;
  *) bad "TorvaneRecorder's RUNPATH is \"$runpath\"" ;;
esac
if grep -rlqF "$build" "$usr/bin" "$usr/lib"; then
  # The build tree's help page and MP4 library are last fallbacks compiled into the programs;
  # everything else must be relative.
  refs=$(strings "$recorder" "$record" "$lib" | grep -F "$build" | grep -v '/app/help/recorder.html$' |
    grep -v '/lib/libtorvane_mp4.so$')
  [ -z "$refs" ] && ok "no build-tree paths but the fallbacks" || bad "build-tree paths in the installed programs: $refs"
else
  ok "no build-tree paths in the installed programs"
fi
resolved=$(ldd "$recorder" | sed -n 's/.*libScreenCapture.so => \([^ ]*\).*/\1/p')
[ "$(realpath -m "$resolved")" = "$(realpath -m "$lib")" ] && ok "libScreenCapture.so resolves to the installed one" ||
  bad "libScreenCapture.so resolves to \"$resolved\", installed at $lib"

# --version and --help answer without a display (before any window is made).
version=$(sed -n 's/^project(TorvaneRecorder VERSION \([0-9.]*\).*/\1/p' "$SOURCE_DIR/CMakeLists.txt")
v1=$(env -u DISPLAY -u WAYLAND_DISPLAY "$recorder" --version 2>&1); rc1=$?
v2=$(env -u DISPLAY "$record" --version 2>&1); rc2=$?
[ "$rc1" = 0 ] && [ "$v1" = "TorvaneRecorder $version" ] && [ "$rc2" = 0 ] && [ "$v2" = "torvane-record $version" ] &&
  ok "--version prints $version" || bad "--version: \"$v1\" ($rc1), \"$v2\" ($rc2); the project is $version"
for prog in "$recorder" "$record"; do
  help=$(env -u DISPLAY "$prog" --help 2>&1); rc=$?
  tail2=$(tail -n2 <<<"$help")
  if [ "$rc" = 0 ] &&
     grep -qF "Settings: $XDG_CONFIG_HOME/TORVANE COMMUNICATIONS/TorvaneRecorder.conf" <<<"$(head -n1 <<<"$tail2")" &&
     grep -qF "Recordings: $XDG_DOCUMENTS_DIR/unitled.avi" <<<"$(tail -n1 <<<"$tail2")"; then
    ok "$(basename "$prog") --help ends with the settings file and the recordings"
  else
    bad "$(basename "$prog") --help ($rc) ends with: $tail2"
  fi
done
[ ! -e "$XDG_CONFIG_HOME/TORVANE COMMUNICATIONS" ] && ok "--help wrote no settings" || bad "--help created the settings folder"

# A 2 s recording by the installed tool, with the microphone (the test server's 440 Hz source).
out=$env_dir/installed.avi
"$record" --out "$out" --seconds 2 --fps 10 --source full --sound mic >"$env_dir/record.log" 2>&1
rc=$?
if [ "$rc" != 0 ] || [ ! -s "$out" ]; then
  bad "the installed torvane-record failed ($rc): $(tail -n3 "$env_dir/record.log")"
else
  streams=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$out" | tr '\n' ' ')
  duration=$(ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 "$out")
  errors=$(ffmpeg -nostdin -v error -i "$out" -f null - 2>&1)
  if [ "$streams" = "h264 pcm_s16le " ] && [ -z "$errors" ] &&
     awk -v d="$duration" 'BEGIN { exit !(d >= 1.8 && d <= 2.3) }'; then
    ok "the installed tool recorded $duration s of H.264 and PCM"
  else
    bad "recording: streams \"$streams\", video $duration s, decode errors: $errors"
  fi
  disc=$(gst-discoverer-1.0 "$out" 2>&1)
  gst_errors=$(gst-launch-1.0 -q filesrc location="$out" ! decodebin name=d d. ! queue ! videoconvert ! fakesink \
               d. ! queue ! audioconvert ! fakesink 2>&1)
  gst_rc=$?
  if grep -q "H.264" <<<"$disc" && grep -qi "Duration: 0:00:0[12]" <<<"$disc" && [ "$gst_rc" = 0 ]; then
    ok "GStreamer reads and decodes it ($(grep -m1 Duration <<<"$disc" | xargs))"
  else
    bad "GStreamer: $disc $gst_errors"
  fi
fi

# An MP4 recording by the installed tool loads the installed MP4 library, not the build tree's.
mp4=$env_dir/installed.mp4
LD_DEBUG=files "$record" --out "$mp4" --seconds 1 --fps 10 --source full --sound mic >"$env_dir/mp4.log" 2>&1
rc=$?
loaded=$(sed -n 's/.*file=\([^ ]*libtorvane_mp4\.so\).*dynamically loaded.*/\1/p' "$env_dir/mp4.log" | head -n1)
[ -n "$loaded" ] && loaded=$(realpath -m "$loaded")
streams=$(ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$mp4" 2>/dev/null | sort | tr '\n' ' ')
if [ "$rc" = 0 ] && [ "$streams" = "aac h264 " ] && [[ "$loaded" == "$usr"/lib/*/torvane-recorder/libtorvane_mp4.so ]]; then
  ok "the installed tool wrote H.264 and AAC in MP4 through $loaded"
else
  bad "MP4 recording: exit $rc, streams \"$streams\", library loaded: \"$loaded\" ($(grep -v '^ *[0-9]*:' "$env_dir/mp4.log" | tail -n2))"
fi

# The installed recorder: it starts (its shortcut library found), and Help opens the installed page.
opener=$env_dir/opener
mkdir -p "$opener"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"%s/opened"\n' "$env_dir" >"$opener/xdg-open"
chmod +x "$opener/xdg-open"
PATH="$opener:$PATH" "$recorder" >"$env_dir/app.log" 2>&1 & app=$!
title="Torvane Live Screen Recorder $version"
if ! wait_for 15 bash -c "xdotool search --name '^$title\$' >/dev/null 2>&1"; then
  bad "the installed recorder showed no window: $(tail -n3 "$env_dir/app.log")"
  finish
fi
ok "the installed recorder starts"
wid=$(xdotool search --name "^$title\$" | head -n1)
eval "$(xdotool getwindowgeometry --shell "$wid")"
# The help link spans the window's width on the lower row (rows 31 to 42 of 45 dialog units).
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 36 / 45)) click 1
if wait_for 10 test -s "$env_dir/opened"; then
  opened=$(head -n1 "$env_dir/opened")
  page=${opened#file://}
  page=${page%%\?*}
  if [ "$(realpath -m "$page")" = "$(realpath -m "$usr/share/torvane-recorder/help/recorder.html")" ] &&
     [[ "$opened" == *"?topic="* ]]; then
    ok "Help opens the installed page"
  else
    bad "Help opened \"$opened\""
  fi
else
  bad "Help opened nothing"
fi
kill "$app" 2>/dev/null
wait "$app" 2>/dev/null
app=
finish
