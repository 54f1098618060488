#pragma once
// Checks of stored settings before a recording: they are trusted only for their size.

#include <string>

#include "settings/CaptureSettings.h"

namespace torvane {

constexpr int kMinFrameRate = 1;
constexpr int kMaxFrameRate = 60;
constexpr int kMinOutputSide = 16;
constexpr int kMaxOutputSide = 8192;
constexpr int kMaxCaptureSide = 16384;

// Empty when the settings can be recorded; else a sentence that says what is wrong.
std::string validateForRecording(const ScreenSettings& s);

}  // namespace torvane
