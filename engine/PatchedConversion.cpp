#include "engine/PatchedConversion.h"

#include <libyuv/convert.h>

#include <algorithm>
#include <cstring>

namespace torvane {

bool convertToI420(const QImage& picture, const I420Planes& out, int x, int y) {
    const int W = out.width;
    uint8_t* const py = out.y + size_t(y) * W + x;
    uint8_t* const pu = out.u + size_t(y / 2) * (W / 2) + x / 2;
    uint8_t* const pv = out.v + size_t(y / 2) * (W / 2) + x / 2;
    const int stride = int(picture.bytesPerLine());
    switch (picture.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        return libyuv::ARGBToI420(picture.constBits(), stride, py, W, pu, W / 2, pv, W / 2, picture.width(),
                                  picture.height()) == 0;
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
        // R, G, B, X in memory: libyuv calls that order ABGR.
        return libyuv::ABGRToI420(picture.constBits(), stride, py, W, pu, W / 2, pv, W / 2, picture.width(),
                                  picture.height()) == 0;
    default:
        return false;
    }
}

namespace {

// `drawn` clipped to a picture of `size` and grown to whole `align` x `align` blocks, merged until
// no two overlap.
std::vector<QRect> alignedParts(const std::vector<QRect>& drawn, const QSize& size, int align) {
    std::vector<QRect> parts;
    for (const QRect& d : drawn) {
        const QRect c = d.intersected(QRect(QPoint(0, 0), size));
        if (c.isEmpty()) continue;
        const int left = c.left() / align * align, top = c.top() / align * align;
        const int right = std::min(size.width(), (c.x() + c.width() + align - 1) / align * align);
        const int bottom = std::min(size.height(), (c.y() + c.height() + align - 1) / align * align);
        parts.emplace_back(left, top, right - left, bottom - top);
    }
    // Merged until no two overlap: a drawing over two parts must see the other's pixels drawn too.
    for (bool merged = true; merged;) {
        merged = false;
        for (size_t i = 0; i < parts.size() && !merged; ++i)
            for (size_t j = i + 1; j < parts.size() && !merged; ++j)
                if (parts[i].intersects(parts[j])) {
                    parts[i] = parts[i].united(parts[j]);
                    parts.erase(parts.begin() + std::ptrdiff_t(j));
                    merged = true;
                }
    }
    return parts;
}

// Each part copied from `picture`, drawn on and converted over its place in `out`.
bool drawOver(const QImage& picture, const std::vector<QRect>& parts, const DrawOnPart& draw, QImage& scratch,
              const I420Planes& out) {
    for (const QRect& r : parts) {
        if (scratch.size() != r.size() || scratch.format() != picture.format()) scratch = QImage(r.size(), picture.format());
        const size_t rowBytes = size_t(r.width()) * 4;
        for (int row = 0; row < r.height(); ++row)
            std::memcpy(scratch.scanLine(row), picture.constScanLine(r.y() + row) + size_t(r.x()) * 4, rowBytes);
        draw(scratch, r.topLeft());
        if (!convertToI420(scratch, out, r.x(), r.y())) return false;
    }
    return true;
}

}  // namespace

std::vector<QRect> blockParts(const std::vector<QRect>& drawn, const QSize& size) { return alignedParts(drawn, size, 2); }

std::vector<QRect> macroblockParts(const std::vector<QRect>& changed, const QSize& size) {
    return alignedParts(changed, size, kMacroblock);
}

void unchangedMacroblocks(const std::vector<QRect>& parts, const QSize& size, std::vector<uint8_t>& map) {
    const int columns = (size.width() + kMacroblock - 1) / kMacroblock;
    const int rows = (size.height() + kMacroblock - 1) / kMacroblock;
    map.assign(size_t(columns) * size_t(rows), 1);
    for (const QRect& p : parts) {
        const QRect c = p.intersected(QRect(QPoint(0, 0), size));
        if (c.isEmpty()) continue;
        for (int row = c.top() / kMacroblock; row <= c.bottom() / kMacroblock; ++row)
            std::memset(map.data() + size_t(row) * size_t(columns) + size_t(c.left() / kMacroblock), 0,
                        size_t(c.right() / kMacroblock - c.left() / kMacroblock + 1));
    }
}

bool convertDrawnOver(const QImage& picture, const std::vector<QRect>& parts, const DrawOnPart& draw, QImage& scratch,
                      const I420Planes& out) {
    if (picture.width() != out.width || picture.height() != out.height) return false;
    if (!convertToI420(picture, out)) return false;
    return drawOver(picture, parts, draw, scratch, out);
}

bool convertChangedDrawnOver(const QImage& picture, const std::vector<QRect>& changed, const std::vector<QRect>& drawn,
                             const DrawOnPart& draw, QImage& scratch, const I420Planes& out) {
    if (picture.width() != out.width || picture.height() != out.height) return false;
    const QRect whole(QPoint(0, 0), picture.size());
    for (const QRect& r : changed) {
        const QRect c = r.intersected(whole);
        if (c.isEmpty()) continue;
        if ((c.x() | c.y() | c.width() | c.height()) & 1) return false;   // would split a chroma sample
        // A view of the part, where the picture keeps it: nothing is copied.
        const QImage view(picture.constScanLine(c.y()) + size_t(c.x()) * 4, c.width(), c.height(),
                          picture.bytesPerLine(), picture.format());
        if (!convertToI420(view, out, c.x(), c.y())) return false;
    }
    return drawOver(picture, drawn, draw, scratch, out);
}

}  // namespace torvane
