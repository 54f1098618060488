#pragma once
// Size of the primary screen and the desktop's work area.

#include <string>

#include "platform/core/ScreenRect.h"

namespace torvane::x11 {

struct ScreenGeometry {
    ScreenRect screen;     // the primary output (XRandR), else the whole root window
    ScreenRect workArea;   // _NET_WORKAREA of the current desktop, else the screen
};

// Opens a short-lived connection to $DISPLAY. On failure returns an empty geometry and fills `error`.
ScreenGeometry queryScreenGeometry(std::string* error);

}  // namespace torvane::x11
