#pragma once
// Look-up and geometry of the companion program's session window (source kind 3).

#include <QSettings>
#include <cstdint>

#include "settings/CaptureSettings.h"

namespace torvane {

// The window id the companion program stored under "SessionWindow"/"Hwnd", 0 when none. A minimised
// window is restored and the window is raised; the id is not validated further.
uint64_t lookUpLiveSession(QSettings& store);

// Writes the window into `s`: live-session window field, the window's rectangle with width and
// height rounded up to multiples of 4, and the output size by the size choice. False (and `s`
// unchanged) when the window cannot be measured.
bool applyLiveSessionGeometry(ScreenSettings& s, uint64_t window);

}  // namespace torvane
