#include "settings/CaptureRules.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace torvane {

namespace {

constexpr int32_t kMinimumSide = 200;

// Stored rectangles are trusted only for their size, so the arithmetic runs in 64 bits and the
// result saturates instead of overflowing; the engine refuses what is still absurd.
int32_t saturate(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

int64_t roundUpTo4Wide(int64_t v) { return v % 4 == 0 ? v : 4 * (v / 4) + 4; }

int64_t evenUp(int64_t v) { return v % 2 == 0 ? v : v + 1; }

}  // namespace

int32_t roundUpTo4(int32_t v) { return saturate(roundUpTo4Wide(v)); }

ScreenRect normaliseCaptureRect(ScreenRect r) {
    // An inverted rectangle has a negative width, so it is treated like any too-small one.
    int64_t width = int64_t{r.right} - r.left;
    int64_t height = int64_t{r.bottom} - r.top;
    if (width < kMinimumSide) width = kMinimumSide;
    if (height < kMinimumSide) height = kMinimumSide;
    r.right = saturate(r.left + roundUpTo4Wide(width));
    r.bottom = saturate(r.top + roundUpTo4Wide(height));
    return r;
}

void applyRectBySourceKind(ScreenSettings& s, const WebcamSettings& webcam, const ScreenRect& screen,
                           const ScreenRect& workArea) {
    if (s.sourceKind == kSourceFullScreen) {
        // The monitor where it is: a primary or chosen monitor need not start at the origin.
        if (s.includeTaskbar)
            s.rect = screen;
        else
            s.rect = workArea;
    }
    s.rect = normaliseCaptureRect(s.rect);
    // After the normalisation, so that a small webcam keeps its own size.
    if (s.sourceKind == kSourceWebcam) s.rect = ScreenRect{0, 0, webcam.width, webcam.height};
}

void applyOutputSize(ScreenSettings& s) {
    const int64_t w = int64_t{s.rect.right} - s.rect.left;
    const int64_t h = int64_t{s.rect.bottom} - s.rect.top;
    int64_t ow = s.outputWidth;
    int64_t oh = s.outputHeight;
    switch (s.sizeChoice) {
        case 0: ow = w; oh = h; break;
        case 1: ow = static_cast<int64_t>(static_cast<double>(w) * 0.66);
                oh = static_cast<int64_t>(static_cast<double>(h) * 0.66); break;
        case 2: ow = w / 2; oh = h / 2; break;
        case 3: ow = static_cast<int64_t>(static_cast<double>(w) * 0.33);
                oh = static_cast<int64_t>(static_cast<double>(h) * 0.33); break;
        case 4: ow = 800; oh = 600; break;
        case 5: ow = 640; oh = 480; break;
        case 6: ow = 320; oh = 240; break;
        default: break;   // keeps the stored size
    }
    s.outputWidth = saturate(evenUp(ow));
    s.outputHeight = saturate(evenUp(oh));
}

}  // namespace torvane
