#pragma once
// Picks the screen backend for a recording.

#include <memory>
#include <string>

#include "engine/PointerNotice.h"
#include "platform/screen/ScreenSource.h"
#include "settings/CaptureSettings.h"

namespace torvane {

// The source for the capture rectangle of `screen`; null and `error` filled when none can be had.
// On a Wayland desktop whose portal casts screens, the first call asks the desktop (its dialog
// runs while the calling thread's event loop turns); later calls reuse that session.
std::unique_ptr<IScreenSource> openScreenSource(const ScreenSettings& screen, std::string* error);

// The monitor the desktop's screen cast shares, in its device pixels from the monitor's place on the
// desktop: a scaled monitor (200 %, 150 %) is recorded at its full resolution. Asks the desktop as
// openScreenSource does when no cast is open yet (main thread only); false with `error`.
bool screenCastMonitor(ScreenRect& monitor, std::string* error);

// How the pointer reaches the pictures of the source openScreenSource gave for `screen`.
ScreenPointer screenPointer(const ScreenSettings& screen);

// Whether recordings go through the desktop's screen cast portal (a Wayland session that offers it).
bool screenCastWanted();

}  // namespace torvane
