#pragma once
// The monitors of the X screen (RandR 1.5 monitors: one an output, or as the desktop defines them)
// and the choice of one of them by its name.

#include <string>
#include <vector>

#include "platform/core/ScreenRect.h"

namespace torvane::x11 {

struct Monitor {
    std::string name;    // the output's name, e.g. "HDMI-1"
    ScreenRect rect;     // in root-window pixels
    bool primary = false;
};

// The stored choice that means every monitor at once; "" means the primary monitor.
inline constexpr const char* kAllMonitors = "all";

// The monitors of $DISPLAY's screen; empty with `error` filled when the display cannot be opened,
// empty without an error when the server reports none.
std::vector<Monitor> listMonitors(std::string* error);

// "HDMI-1 — 2560 × 1440", as the settings list it.
std::string monitorLabel(const Monitor& m);

struct MonitorChoice {
    ScreenRect rect;
    std::string name;   // of the monitor chosen, "all", or "" for the whole screen (no monitors)
    std::string note;   // why the choice was not kept (the monitor is gone), else empty
};

// Resolves a stored choice: "" the primary monitor (the first when none is primary), "all" the whole
// screen, a name that monitor; a name that is not connected falls back to the primary with a note.
// With no monitors the whole screen (`root`) is recorded.
MonitorChoice chooseMonitor(const std::vector<Monitor>& monitors, const std::string& choice, const ScreenRect& root);

}  // namespace torvane::x11
