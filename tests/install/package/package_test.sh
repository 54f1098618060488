#!/usr/bin/env bash
# Makes the Debian package with the build's CPack configuration and checks it: its fields, its
# dependencies against what the programs link, its file list, lintian, and that apt can install it.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -u
build=$1 source=$2
passed=0
failed=0
ok() { echo "ok: $*"; passed=$((passed + 1)); }
bad() { echo "FAIL: $*"; failed=$((failed + 1)); }
scratch=$(mktemp -d "${TMPDIR:-/tmp}/torvane-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
finish() { echo "$passed passed, $failed failed"; [ "$failed" = 0 ]; exit; }

log=$(cd "$build" && cpack --config CPackConfig.cmake -B "$scratch/cpack" 2>&1)
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$log" | tail -n1)
if [ -z "$deb" ] || [ ! -s "$deb" ]; then
  bad "CPack made no package: $log"
  finish
fi
ok "CPack made $(basename "$deb")"

version=$(sed -n 's/^project(TorvaneRecorder VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = torvane-recorder ] && [ "$(field Version)" = "$version" ] && [ "$(field Architecture)" = "$(dpkg --print-architecture)" ] &&
  ok "torvane-recorder $version for $(field Architecture)" ||
  bad "fields: $(field Package) $(field Version) $(field Architecture); the project is $version"
[ "$(field Recommends)" = "pulseaudio-utils | pipewire-pulse, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good" ] && [ "$(field Suggests)" = pavucontrol ] &&
  ok "Recommends and Suggests" || bad "Recommends \"$(field Recommends)\", Suggests \"$(field Suggests)\""

# Every library the installed programs link, but the private one, comes from a package named in Depends.
dpkg-deb -x "$deb" "$scratch/root"
depends=" $(field Depends | sed 's/([^)]*)//g; s/[,|]/ /g') "
missing=""
for elf in "$scratch"/root/usr/bin/* $(find "$scratch/root/usr/lib" -name '*.so'); do
  for needed in $(readelf -d "$elf" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    [ "$needed" = libScreenCapture.so ] && continue
    path=$(ldconfig -p | awk -v n="$needed" '$1 == n && /x86-64|x86_64/ { print $NF; exit }')
    owner=$(dpkg -S "$(realpath "$path" 2>/dev/null || echo "$path")" 2>/dev/null | head -n1 | cut -d: -f1)
    [ -z "$owner" ] && owner=$(dpkg -S "$path" 2>/dev/null | head -n1 | cut -d: -f1)
    [[ "$depends" == *" $owner "* ]] || missing="$missing $needed($owner)"
  done
done
[ -z "$missing" ] && ok "Depends covers every linked library" || bad "not in Depends:$missing; Depends: $(field Depends)"

# The file list: the programs, the private library, the data; nothing of the tests, nothing outside /usr.
list=$(dpkg-deb -c "$deb")
paths=$(awk '{ print $NF }' <<<"$list" | sed 's:^\./:/:')
missing=""
for f in /usr/bin/TorvaneRecorder /usr/bin/torvane-record /usr/share/applications/torvane-recorder.desktop \
         /usr/share/metainfo/example.torvane.recorder.metainfo.xml /usr/share/icons/hicolor/scalable/apps/torvane-recorder.svg \
         /usr/share/icons/hicolor/16x16/apps/torvane-recorder.png /usr/share/icons/hicolor/256x256/apps/torvane-recorder.png \
         /usr/share/man/man1/torvane-record.1.gz /usr/share/man/man1/TorvaneRecorder.1.gz \
         /usr/share/torvane-recorder/help/recorder.html /usr/share/doc/torvane-recorder/copyright \
         /usr/share/doc/torvane-recorder/changelog.gz; do
  grep -qxF "$f" <<<"$paths" || missing="$missing $f"
done
grep -qE '^/usr/lib/.*torvane-recorder/libScreenCapture\.so$' <<<"$paths" || missing="$missing libScreenCapture.so"
[ -z "$missing" ] && ok "file list has every installed file" || bad "missing from the package:$missing"
stray=$(grep -vE '^/usr(/|$)|^/$' <<<"$paths"; grep -E 'companion|animator|test|gtest|/include/' <<<"$paths")
[ -z "$stray" ] && ok "nothing outside /usr, no test programs, no headers" || bad "stray files: $stray"
not_root=$(awk '$2 != "root/root"' <<<"$list")
[ -z "$not_root" ] && ok "every file belongs to root" || bad "not owned by root: $not_root"
strip_left=$(file "$scratch"/root/usr/bin/* | grep -v ', stripped')
[ -z "$strip_left" ] && ok "programs are stripped" || bad "not stripped: $strip_left"

# lintian with the package's own overrides (each says why): no error and no other warning.
lint=$(lintian --fail-on error,warning --display-info "$deb" 2>&1)
lint_rc=$?
echo "$lint" | sed 's/^/  lintian: /'
[ "$lint_rc" = 0 ] && ok "lintian: no errors or warnings" || bad "lintian found errors or warnings"

# apt can resolve its dependencies from the archive (simulated: the machine is left as it is).
sim=$(apt-get install --simulate --no-install-recommends "$deb" 2>&1)
[ $? = 0 ] && grep -q '^Inst torvane-recorder ' <<<"$sim" && ok "apt-get install --simulate accepts it" ||
  bad "apt-get install --simulate: $(tail -n5 <<<"$sim")"
finish
