#pragma once
// What the user is told when the desktop cannot give the pointer the way the settings ask for it:
// a screen cast that draws the pointer into the picture without saying where it is leaves no
// place to draw the highlight, and one without the pointer leaves nothing to show.

#include <string>

#include "settings/CaptureSettings.h"

namespace torvane {

// How the pointer reaches the pictures of a screen source.
enum class ScreenPointer {
    Told,       // its place is known (X11, cast with pointer metadata): drawn by us
    Embedded,   // drawn into the picture by the desktop, its place not told
    Absent,     // neither drawn nor told
};

// Empty when the recording shows the pointer as `cursor` asks; else one sentence for the report.
std::string pointerNotice(const CursorSettings& cursor, ScreenPointer pointer);

}  // namespace torvane
