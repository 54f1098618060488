#pragma once
// The rules that derive the capture rectangle and the output size from the user's choices.

#include "settings/CaptureSettings.h"

namespace torvane {

// Minimum 200 x 200, then width and height rounded up to multiples of 4.
ScreenRect normaliseCaptureRect(ScreenRect r);
// Rounds a width or height up to a multiple of 4 (802 -> 804, 600 -> 600).
int32_t roundUpTo4(int32_t v);

// Capture rectangle by source kind, in place: full screen from the screen size or the work area,
// then normalisation, then the webcam picture for webcam only.
void applyRectBySourceKind(ScreenSettings& s, const WebcamSettings& webcam, const ScreenRect& screen,
                           const ScreenRect& workArea);

// Output size from the size choice and the current rectangle, in place; a choice outside 0..6
// leaves the stored size. Odd results are raised by 1.
void applyOutputSize(ScreenSettings& s);

}  // namespace torvane
