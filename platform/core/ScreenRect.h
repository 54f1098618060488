#pragma once
// A rectangle in desktop coordinates: left and top inside, right and bottom just outside.

#include <cstdint>

namespace torvane {

struct ScreenRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    // 64-bit difference, narrowed modulo 2^32: absurd stored rectangles cannot overflow.
    int32_t width() const { return int32_t(int64_t(right) - left); }
    int32_t height() const { return int32_t(int64_t(bottom) - top); }
    bool operator==(const ScreenRect&) const = default;
};

}  // namespace torvane
