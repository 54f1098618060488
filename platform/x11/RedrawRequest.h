#pragma once
// Makes the desktop redraw a spot of the screen without changing what it shows.

#include <string>

namespace torvane::x11 {

// Maps a fully transparent 1 x 1 window at (x, y) of the X root for a moment and removes it. A
// compositor that sends screen pictures only when something changed then sends one. False, with
// `error`, when no X server answers or it has no 32-bit visual (a window there would show).
bool requestRedraw(int x, int y, std::string* error = nullptr);

}  // namespace torvane::x11
