#pragma once
// Draws the pointer into a grabbed picture: a fixed black-and-white arrow, or a translucent square
// or circle round the pointer position.

#include <QImage>

#include "platform/core/ScreenRect.h"
#include "settings/CaptureSettings.h"

namespace torvane {

// Alpha of a highlight opacity in percent (70 -> 178); out-of-range opacities are clamped.
int highlightAlpha(int opacityPercent);

// (x, y) is the pointer position in picture pixels; anything outside the picture is cut off.
void drawCursor(QImage& picture, const CursorSettings& settings, int x, int y);

// The pixels drawCursor may touch for a pointer at (x, y), in the same coordinates; empty when it
// draws nothing.
ScreenRect cursorFootprint(const CursorSettings& settings, int x, int y);

}  // namespace torvane
