#include <gtest/gtest.h>

#include <QImage>

#include "engine/CursorOverlay.h"

using namespace torvane;

namespace {
QImage black(int w = 200, int h = 120) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::black);
    return img;
}
CursorSettings highlight(int type, int size, int opacity, uint32_t colour = 0x0000FF) {
    CursorSettings c;
    c.highlightType = type;
    c.highlightSize = size;
    c.highlightOpacity = opacity;
    c.highlightColor = colour;
    return c;
}
// The bounding box of the pixels that are no longer black.
QRect changed(const QImage& img) {
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if ((img.pixel(x, y) & 0xFFFFFF) != 0) box |= QRect(x, y, 1, 1);
    return box;
}
}  // namespace

TEST(CursorOverlay, AlphaFromOpacity) {
    EXPECT_EQ(highlightAlpha(70), 178);
    EXPECT_EQ(highlightAlpha(100), 255);
    EXPECT_EQ(highlightAlpha(0), 0);
    EXPECT_EQ(highlightAlpha(250), 255);
    EXPECT_EQ(highlightAlpha(-5), 0);
}

TEST(CursorOverlay, SquareCoversItsSizeCentredOnThePointer) {
    QImage img = black();
    drawCursor(img, highlight(kHighlightRectangle, 10, 100), 100, 50);
    EXPECT_EQ(changed(img), QRect(QPoint(95, 45), QPoint(104, 54)));
    EXPECT_EQ(QColor(img.pixel(100, 50)), QColor(255, 0, 0));

    QImage odd = black();
    drawCursor(odd, highlight(kHighlightRectangle, 11, 100), 100, 50);
    EXPECT_EQ(changed(odd), QRect(QPoint(95, 45), QPoint(105, 55)));
}

TEST(CursorOverlay, OpacityBlendsColourOverThePicture) {
    QImage img = black();
    drawCursor(img, highlight(kHighlightRectangle, 20, 70, 0x00FF00), 50, 50);
    const QColor c(img.pixel(50, 50));
    EXPECT_NEAR(c.green(), 178, 2);
    EXPECT_EQ(c.red(), 0);

    QImage none = black();
    drawCursor(none, highlight(kHighlightEllipse, 20, 0), 50, 50);
    EXPECT_TRUE(changed(none).isNull());
}

TEST(CursorOverlay, EllipseLeavesTheCornersAlone) {
    QImage img = black();
    drawCursor(img, highlight(kHighlightEllipse, 40, 100), 100, 60);
    EXPECT_EQ(QColor(img.pixel(100, 60)), QColor(255, 0, 0));
    EXPECT_EQ(img.pixel(81, 41) & 0xFFFFFF, 0u);
    EXPECT_TRUE(QRect(80, 40, 40, 40).contains(changed(img)));
}

TEST(CursorOverlay, ArrowIsWhiteInsideWithBlackOutline) {
    QImage img(60, 60, QImage::Format_RGB32);
    img.fill(QColor(0, 0, 255));
    CursorSettings arrow;
    drawCursor(img, arrow, 10, 10);
    EXPECT_EQ(QColor(img.pixel(10, 10)), QColor(Qt::black));    // the tip is on the outline
    EXPECT_EQ(QColor(img.pixel(13, 20)), QColor(Qt::white));    // inside
    EXPECT_EQ(QColor(img.pixel(10, 27)), QColor(Qt::black));    // the left edge's lower end
    EXPECT_EQ(QColor(img.pixel(30, 30)), QColor(0, 0, 255));    // beyond its 12 x 22 box
    EXPECT_EQ(QColor(img.pixel(9, 15)), QColor(0, 0, 255));     // left of the left edge
}

TEST(CursorOverlay, ShapesPastTheEdgeAreCutOff) {
    QImage img = black(100, 100);
    drawCursor(img, highlight(kHighlightRectangle, 20, 100), -5, 50);
    EXPECT_EQ(changed(img), QRect(QPoint(0, 40), QPoint(4, 59)));
    QImage far = black(100, 100);
    drawCursor(far, highlight(kHighlightRectangle, 20, 100), 500, 500);
    drawCursor(far, CursorSettings{}, -300, 20);
    EXPECT_TRUE(changed(far).isNull());
    QImage unknown = black(100, 100);
    drawCursor(unknown, highlight(7, 20, 100), 50, 50);
    EXPECT_TRUE(changed(unknown).isNull());
}
