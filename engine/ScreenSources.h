#pragma once
// Picks the screen backend for a recording.

#include <memory>
#include <string>

#include "platform/screen/ScreenSource.h"
#include "settings/CaptureSettings.h"

namespace torvane {

// The source for the capture rectangle of `screen`; null and `error` filled when none can be had.
std::unique_ptr<IScreenSource> openScreenSource(const ScreenSettings& screen, std::string* error);

}  // namespace torvane
