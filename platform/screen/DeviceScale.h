#pragma once
// Windows are placed in the window system's logical units; the screen is read and recorded in its
// device pixels. On a scaled screen (200 %, 150 %) the two differ by the screen's device pixel ratio.

#include <QRect>

#include <cmath>

#include "platform/core/ScreenRect.h"

namespace torvane {

// The logical rectangle that covers `device` (device pixels, right and bottom exclusive): a window
// of it shows over every device pixel of the rectangle, and its outside lies outside it.
inline QRect logicalCovering(const ScreenRect& device, double ratio) {
    if (!(ratio > 0)) ratio = 1;
    const int left = int(std::floor(device.left / ratio)), top = int(std::floor(device.top / ratio));
    const int right = int(std::ceil(device.right / ratio)), bottom = int(std::ceil(device.bottom / ratio));
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace torvane
