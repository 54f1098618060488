#include "engine/Placement.h"

namespace torvane {

PlacedPoint placeObject(int position, int L, int T, int R, int B, int w, int h, int mx, int my) {
    // Column: 0 left, 1 right, 2 centre; row: 0 top, 1 bottom, 2 middle.
    static constexpr int kColumn[9] = {0, 1, 2, 0, 1, 2, 0, 1, 2};
    static constexpr int kRow[9] = {0, 0, 0, 1, 1, 1, 2, 2, 2};
    if (position < 0 || position > 8) position = kPlaceTopLeft;

    // Widened to 64 bits so stored extremes cannot overflow; the result fits an int for any
    // rectangle and sizes the settings can hold.
    const long long l = L, t = T, r = R, b = B, lw = w, lh = h, lmx = mx, lmy = my;
    long long x = 0, y = 0;
    switch (kColumn[position]) {
        case 0: x = l + lmx; break;
        case 1: x = r - lmx - lw; break;
        default: x = l + (r - l - lw) / 2; break;
    }
    switch (kRow[position]) {
        case 0: y = t + lmy; break;
        case 1: y = b - lmy - lh; break;
        default: y = t + (b - t - lh) / 2; break;
    }
    return {static_cast<int>(x), static_cast<int>(y)};
}

}  // namespace torvane
