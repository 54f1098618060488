#pragma once
// Windows are placed in the window system's logical units; areas are read and recorded in device
// pixels. On one scaled screen the two differ by its ratio; with a ratio a monitor, each monitor
// keeps its own place and scales from there.

#include <QRect>

#include "platform/core/ScreenRect.h"

namespace torvane::x11 {

// The logical rectangle that covers `device` (device pixels, right and bottom exclusive) on the
// monitor the area's middle lies on: a window of it shows over every device pixel of the area,
// and its outside lies outside it.
QRect logicalCoveringOnScreen(const ScreenRect& device);

}  // namespace torvane::x11
