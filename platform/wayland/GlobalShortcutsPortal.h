#pragma once
// Whether the desktop's portal offers global shortcuts (org.freedesktop.portal.GlobalShortcuts).
// Debian 12's portal (1.16) does not; where it is missing, Ctrl+Alt+S/P/I stay X11 key grabs, which
// on a Wayland desktop reach the recorder only while an XWayland window has the keyboard focus.

namespace torvane::wayland {

// Asks the session bus once; false without a bus, a portal, or that interface.
bool globalShortcutsOffered();

}  // namespace torvane::wayland
