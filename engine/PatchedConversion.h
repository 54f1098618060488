#pragma once
// The encoder's I420 input made from a picture that is only read, with the pointer and the
// watermark drawn over it: the whole picture is converted as it is, then only the parts drawn on
// are copied, drawn on and converted again over their place. No copy of the whole picture.

#include <QImage>
#include <QPoint>
#include <QRect>

#include <cstdint>
#include <functional>
#include <vector>

namespace torvane {

// I420 planes of width x height (both even): Y of stride width, U and V of stride width / 2.
struct I420Planes {
    int width, height;
    uint8_t *y, *u, *v;
};

// Converts `picture` (32 bits a pixel, BGRX as QImage::Format_RGB32/ARGB32, or RGBX as
// Format_RGBX8888/RGBA8888; the fourth byte is not looked at) of the planes' size into `out`, the
// block of `out` whose top-left is (x, y), both even. False for any other format.
bool convertToI420(const QImage& picture, const I420Planes& out, int x = 0, int y = 0);

// The parts of a picture of `size` that drawings covering `drawn` change, clipped to it and grown to
// whole 2 x 2 blocks (so each chroma sample comes from the same four pixels as in a conversion of
// the whole), overlapping ones merged into one; empty rectangles are left out.
std::vector<QRect> blockParts(const std::vector<QRect>& drawn, const QSize& size);

// The encoder's macroblocks: 16 x 16 pixels.
constexpr int kMacroblock = 16;

// The macroblocks of a picture of `size` that `changed` touches, as rectangles of whole macroblocks
// clipped to the picture, overlapping ones merged.
std::vector<QRect> macroblockParts(const std::vector<QRect>& changed, const QSize& size);

// `map` = one byte a macroblock of a picture of `size`, in rows of (width + 15) / 16: 1 where none
// of `parts` touches the macroblock (it is as in the picture before), else 0.
void unchangedMacroblocks(const std::vector<QRect>& parts, const QSize& size, std::vector<uint8_t>& map);

// Draws on `part`, which holds the picture's pixels from `origin` on (picture coordinates).
using DrawOnPart = std::function<void(QImage& part, QPoint origin)>;

// `out` (of `picture`'s size) = the I420 of `picture` with `draw` applied to it, where `draw`
// changes nothing outside `parts` (as made by blockParts). `scratch` is reused between calls.
// False when the picture's format is none of convertToI420's or its size is not the planes'.
bool convertDrawnOver(const QImage& picture, const std::vector<QRect>& parts, const DrawOnPart& draw, QImage& scratch,
                      const I420Planes& out);

// The same for a picture that differs from the one `out` holds (undrawn on, with the same
// drawings drawn) only inside `changed` (as made by macroblockParts): only those parts are
// converted, then `drawn` (as made by blockParts) drawn on and converted over.
bool convertChangedDrawnOver(const QImage& picture, const std::vector<QRect>& changed, const std::vector<QRect>& drawn,
                             const DrawOnPart& draw, QImage& scratch, const I420Planes& out);

}  // namespace torvane
