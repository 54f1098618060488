#pragma once
// Whether the program runs on a Wayland desktop (its X11 connection, if any, is XWayland's).

#include <cstdlib>
#include <cstring>

namespace torvane::wayland {

inline bool waylandDesktop() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return (display && *display) || (type && std::strcmp(type, "wayland") == 0);
}

}  // namespace torvane::wayland
