#!/usr/bin/env bash
# Builds the recorder (scripts/setup.sh) and its Debian package, and prints the path of the package,
# which is written to out/. Install it with: sudo apt install ./out/torvane-recorder_*.deb
#   scripts/package.sh [build folder]     (default: build)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
"$here/scripts/setup.sh" "$build" >&2
mkdir -p "$here/out"
log=$(cd "$here/$build" && cpack --config CPackConfig.cmake -B "$here/$build/cpack" 2>&1) || { echo "$log" >&2; exit 1; }
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$log" | tail -n1)
[ -n "$deb" ] && [ -f "$deb" ] || { echo "$log" >&2; echo "package.sh: CPack made no package" >&2; exit 1; }
cp "$deb" "$here/out/"
echo "$here/out/$(basename "$deb")"
