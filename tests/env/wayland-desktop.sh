# A headless Wayland desktop with the screen cast portal, for with-env.sh --wayland (sourced, bash).
#
# sway (headless output HEADLESS-1, pixman renderer, as a dedicated user because it refuses root),
# a session bus, PipeWire and WirePlumber, the wlroots portal backend and the portal frontend, and
# sway's XWayland with root's X clients let in. Needs no GPU.
#
# Debian 12's wlroots portal backend (0.7.0) refuses to cast when the compositor offers no DMA-BUF
# format, which a GPU-less compositor never does. wayland_portal_backend rebuilds it once a machine
# from the Debian source package with a one-line fix (check only the shared-memory format) into
# $TORVANE_XDPW_CACHE.

# shellcheck source=pipewire.sh
. "$(dirname "${BASH_SOURCE[0]}")/pipewire.sh"

TORVANE_WL_USER=${TORVANE_WL_USER:-torvane-wl}
TORVANE_XDPW_CACHE=${TORVANE_XDPW_CACHE:-/var/cache/torvane/xdpw-0.7.0-shm}

wl_wait() { # wl_wait SECONDS CMD...: poll every 50 ms
  local n=$(($1 * 20))
  shift
  for _ in $(seq "$n"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
  echo "wayland-desktop: timed out waiting for: $*" >&2
  return 1
}

# Prints the path of the rebuilt backend, building it first when this machine has none.
wayland_portal_backend() {
  local c=$TORVANE_XDPW_CACHE bin=$TORVANE_XDPW_CACHE/xdg-desktop-portal-wlr
  [ -x "$bin" ] && { echo "$bin"; return 0; }
  mkdir -p "$c" || return 1
  (
    flock 8
    [ -x "$bin" ] && exit 0
    set -e
    rm -rf "$c/src" "$c/apt"
    mkdir -p "$c/src" "$c/apt/lists/partial" "$c/apt/sources.list.d"
    # The source archive of the machine's own mirrors, enabled only in a private apt configuration.
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -e "$f" ] && sed 's/^Types: deb$/Types: deb-src/' "$f" >"$c/apt/sources.list.d/$(basename "$f")"
    done
    [ -f /etc/apt/sources.list ] && sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >"$c/apt/sources.list.d/main.list"
    apto="-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts=$c/apt/sources.list.d -o Dir::State::Lists=$c/apt/lists"
    apt-get $apto update -qq >"$c/apt.log" 2>&1
    (cd "$c/src" && apt-get $apto source -qq xdg-desktop-portal-wlr=0.7.0-1 >>"$c/apt.log" 2>&1)
    cd "$c/src/xdg-desktop-portal-wlr-0.7.0"
    patch -p1 -s <<'EOF'
--- a/src/screencast/screencast.c
+++ b/src/screencast/screencast.c
@@ -196,9 +196,7 @@ static int start_screencast(struct xdpw_screencast_instance *cast) {
 	wl_display_dispatch(cast->ctx->state->wl_display);
 	wl_display_roundtrip(cast->ctx->state->wl_display);
 
-	if (cast->screencopy_frame_info[WL_SHM].format == DRM_FORMAT_INVALID ||
-			(cast->ctx->state->screencast_version >= 3 &&
-			 cast->screencopy_frame_info[DMABUF].format == DRM_FORMAT_INVALID)) {
+	if (cast->screencopy_frame_info[WL_SHM].format == DRM_FORMAT_INVALID) {
 		logprint(INFO, "wlroots: unable to receive a valid format from wlr_screencopy");
 		return -1;
 	}
EOF
    meson setup build --buildtype=release -Dsd-bus-provider=libsystemd >"$c/build.log" 2>&1
    ninja -C build >>"$c/build.log" 2>&1
    install -m755 build/xdg-desktop-portal-wlr "$bin.new"
    mv "$bin.new" "$bin"
    rm -rf "$c/src" "$c/apt"
  ) 8>"$c/lock" || { echo "wayland-desktop: building the portal backend failed (see $c/*.log)" >&2; return 1; }
  echo "$bin"
}

# wayland_desktop_start DIR SCREEN: starts everything (TORVANE_WL_MAX_FPS: the portal's picture
# rate cap, default 30), appends the pids to the caller's pids array
# and exports WAYLAND_DISPLAY, SWAYSOCK, DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR,
# XDG_CURRENT_DESKTOP and XDG_SESSION_TYPE.
wayland_desktop_start() {
  local dir=$1 screen=${2:-1280x720} xdpw w=$1/wayland
  xdpw=$(wayland_portal_backend) || return 1
  id "$TORVANE_WL_USER" >/dev/null 2>&1 || useradd -M -d /nonexistent -s /usr/sbin/nologin "$TORVANE_WL_USER" 2>/dev/null ||
    id "$TORVANE_WL_USER" >/dev/null 2>&1 || { echo "wayland-desktop: cannot create user $TORVANE_WL_USER" >&2; return 1; }
  # The compositor's user must reach its configuration and runtime folder.
  chmod 711 "$dir"
  mkdir -p "$w/rt" "$w/portals"
  chmod 755 "$w"
  chown "$TORVANE_WL_USER:" "$w/rt"
  chmod 700 "$w/rt"
  # TORVANE_WL_OUTPUTS: "WxH[@SCALE] ..." for several outputs, side by side from the left, each
  # with its own scale (as GNOME and KDE set up a high-density laptop beside a monitor).
  local outputs=${TORVANE_WL_OUTPUTS:-$screen} n=0 left=0 spec size scale
  : >"$w/sway.conf"
  for spec in $outputs; do
    n=$((n + 1))
    size=${spec%@*}
    scale=1
    [ "$spec" != "$size" ] && scale=${spec#*@}
    echo "output HEADLESS-$n mode $size position $left,0 scale $scale bg #ff0000 solid_color" >>"$w/sway.conf"
    # The next output starts where this one ends in the desktop's (logical) coordinates.
    left=$(awk -v w="${size%x*}" -v s="$scale" -v l="$left" 'BEGIN { printf "%d", l + w / s }')
  done
  cat >>"$w/sway.conf" <<EOF
xwayland enable
default_border none
focus_follows_mouse no
EOF
  cat >"$w/portals/wlr.portal" <<'EOF'
[portal]
DBusName=org.freedesktop.impl.portal.desktop.wlr
Interfaces=org.freedesktop.impl.portal.Screenshot;org.freedesktop.impl.portal.ScreenCast;
UseIn=wlroots;sway;
EOF
  # The "dialog": picks the first monitor at once, as a user who always shares it. A test writes
  # "wait SECONDS" (answer late) or "decline" into $w/chooser to play a slower or unwilling user,
  # or "pick OUTPUT" to share another monitor.
  cat >"$w/chooser.sh" <<EOF
#!/bin/sh
offered=\$(cat)
first=\$(echo "\$offered" | head -n1)
set -- \$(cat "$w/chooser" 2>/dev/null)
[ "\${1:-}" = wait ] && sleep "\$2"
[ "\${1:-}" = pick ] && first=\$(echo "\$offered" | grep -m1 "\$2")
[ "\${1:-}" = decline ] || echo "\$first"
EOF
  chmod 755 "$w/chooser.sh"
  cat >"$w/xdpw.conf" <<EOF
[screencast]
max_fps=${TORVANE_WL_MAX_FPS:-30}
chooser_type=dmenu
chooser_cmd=$w/chooser.sh
EOF
  chmod 644 "$w"/*.conf
  export XDG_RUNTIME_DIR=$w/rt XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
  setpriv --reuid="$TORVANE_WL_USER" --regid="$TORVANE_WL_USER" --clear-groups \
    env -i PATH=/usr/bin:/bin HOME=/nonexistent XDG_RUNTIME_DIR="$w/rt" XDG_CURRENT_DESKTOP=sway \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=$n \
    sway -c "$w/sway.conf" >"$w/sway.log" 2>&1 &
  pids+=($!)
  wl_wait 20 sh -c "ls $w/rt/wayland-? $w/rt/sway-ipc.*.sock" || { cat "$w/sway.log" >&2; return 1; }
  WAYLAND_DISPLAY=$(cd "$w/rt" && ls wayland-? | head -n1)
  SWAYSOCK=$(ls "$w"/rt/sway-ipc.*.sock | head -n1)
  export WAYLAND_DISPLAY SWAYSOCK

  # The session bus, PipeWire and WirePlumber (without it no frames flow).
  pw_start_all "$w" || return 1

  # The backend first, so bus activation cannot start the unfixed packaged one.
  "$xdpw" -l INFO -c "$w/xdpw.conf" >"$w/xdpw.log" 2>&1 &
  pids+=($!)
  wl_wait 20 wl_has_owner org.freedesktop.impl.portal.desktop.wlr || { cat "$w/xdpw.log" >&2; return 1; }
  XDG_DESKTOP_PORTAL_DIR=$w/portals /usr/libexec/xdg-desktop-portal >"$w/xdp.log" 2>&1 &
  pids+=($!)
  wl_wait 20 wl_has_owner org.freedesktop.portal.Desktop || { cat "$w/xdp.log" >&2; return 1; }

  # sway starts XWayland lazily; its DISPLAY is learnt from a command sway runs.
  swaymsg -q exec "echo \$DISPLAY > $w/rt/display" || return 1
  wl_wait 20 test -s "$w/rt/display" || return 1
  DISPLAY=$(cat "$w/rt/display")
  export DISPLAY
  wl_wait 20 setpriv --reuid="$TORVANE_WL_USER" --regid="$TORVANE_WL_USER" --clear-groups \
    env DISPLAY="$DISPLAY" xhost +si:localuser:root || return 1
}

wl_has_owner() {
  busctl --user call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus NameHasOwner s "$1" | grep -q true
}

# Processes the session bus started on demand (document portal, permission store): ours to end.
wayland_bus_children() {
  busctl --user list --no-legend 2>/dev/null | awk '$2 ~ /^[0-9]+$/ {print $2}' | sort -u
}
