#pragma once
// Size of the primary screen and the desktop's work area.

#include <string>

#include "platform/core/ScreenRect.h"

namespace torvane::x11 {

struct ScreenGeometry {
    ScreenRect screen;     // the primary output (XRandR), else the whole root window
    ScreenRect workArea;   // _NET_WORKAREA of the current desktop (within the screen), else the screen
    std::string note;      // why the monitor asked for is not the one measured, else empty
};

// Opens a short-lived connection to $DISPLAY. On failure returns an empty geometry and fills `error`.
ScreenGeometry queryScreenGeometry(std::string* error);
// The same for a monitor chosen by its name ("all": every monitor; "": the primary, as above); a
// monitor that is not connected falls back to the primary one, with a note.
ScreenGeometry queryScreenGeometry(const std::string& monitor, std::string* error);

}  // namespace torvane::x11
