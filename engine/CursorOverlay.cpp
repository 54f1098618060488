#include "engine/CursorOverlay.h"

#include <QPainter>
#include <QPolygon>

#include <algorithm>

namespace torvane {

namespace {
// Largest highlight drawn: a stored size beyond any screen would only cost time.
constexpr int kMaxHighlightSize = 4096;
}

int highlightAlpha(int opacityPercent) {
    return std::clamp(opacityPercent, 0, 100) * 255 / 100;
}

void drawCursor(QImage& picture, const CursorSettings& s, int x, int y) {
    if (s.highlightType == kHighlightPointer) {
        // The arrow's tip is the pointer position; 12 pixels wide and 22 high.
        const QPoint points[7] = {{x + 8, y + 22}, {x + 11, y + 20}, {x + 7, y + 12}, {x + 12, y + 12},
                                  {x, y},          {x, y + 17},      {x + 4, y + 13}};
        QPainter p(&picture);
        p.setPen(QPen(Qt::black, 0));   // cosmetic one-pixel outline
        p.setBrush(Qt::white);
        p.drawPolygon(points, 7, Qt::OddEvenFill);
        return;
    }
    if (s.highlightType != kHighlightRectangle && s.highlightType != kHighlightEllipse) return;
    const int size = std::clamp(s.highlightSize, 0, kMaxHighlightSize);
    const int alpha = highlightAlpha(s.highlightOpacity);
    if (size == 0 || alpha == 0) return;
    const int half = size / 2;
    // COLORREF is 0x00BBGGRR.
    const QColor colour(int(s.highlightColor & 0xFF), int((s.highlightColor >> 8) & 0xFF),
                        int((s.highlightColor >> 16) & 0xFF), alpha);
    QPainter p(&picture);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const QRect shape(x - half, y - half, size, size);
    if (s.highlightType == kHighlightRectangle) {
        p.drawRect(shape);
    } else {
        p.setRenderHint(QPainter::Antialiasing);
        p.drawEllipse(shape);
    }
}

ScreenRect cursorFootprint(const CursorSettings& s, int x, int y) {
    // One pixel of margin on each side for the outline and antialiasing.
    if (s.highlightType == kHighlightPointer) return {x - 1, y - 1, x + 14, y + 24};
    if (s.highlightType != kHighlightRectangle && s.highlightType != kHighlightEllipse) return {};
    const int size = std::clamp(s.highlightSize, 0, kMaxHighlightSize);
    if (size == 0 || highlightAlpha(s.highlightOpacity) == 0) return {};
    const int half = size / 2;
    return {x - half - 1, y - half - 1, x - half + size + 1, y - half + size + 1};
}

}  // namespace torvane
