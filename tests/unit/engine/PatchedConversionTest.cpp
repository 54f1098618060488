// Drawing the pointer and the watermark over a converted picture, part by part, must give the
// encoder exactly what drawing on a copy of the whole picture and converting that gives, and must
// leave the picture itself alone.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/CursorOverlay.h"
#include "engine/PatchedConversion.h"
#include "engine/Watermark.h"

using namespace torvane;

namespace {

constexpr int kW = 320, kH = 240;

// Noise, so that a chroma sample taken from the wrong pixels shows.
QImage noisePicture(QImage::Format format = QImage::Format_RGB32) {
    QImage p(kW, kH, QImage::Format_RGB32);
    std::mt19937 random(7);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) p.setPixel(x, y, 0xFF000000u | (random() & 0xFFFFFFu));
    return format == p.format() ? p : p.convertToFormat(format);
}

struct Planes {
    std::vector<uint8_t> data = std::vector<uint8_t>(size_t(kW) * kH * 3 / 2, 0);
    I420Planes planes() {
        uint8_t* y = data.data();
        return {kW, kH, y, y + kW * kH, y + kW * kH + kW * kH / 4};
    }
};

// Where two conversions differ first, "" when they do not.
std::string firstDifference(const Planes& a, const Planes& b) {
    for (size_t i = 0; i < a.data.size(); ++i)
        if (a.data[i] != b.data[i]) {
            const char* plane = i < size_t(kW) * kH ? "Y" : i < size_t(kW) * kH * 5 / 4 ? "U" : "V";
            return std::string(plane) + " byte " + std::to_string(i) + ": " + std::to_string(a.data[i]) + " instead of " +
                   std::to_string(b.data[i]);
        }
    return "";
}

WatermarkSettings markAt(const std::string& image, int position, int w, int h, int margin) {
    WatermarkSettings s;
    s.on = 1;
    toUtf16Field(image, s.imagePath, std::size(s.imagePath));
    s.width = w;
    s.height = h;
    s.position = position;
    s.opacity = 60;
    s.marginX = s.marginY = margin;
    return s;
}

// The pointer (when `pointer` is set) and the watermark (when given) over `picture`, both ways:
// drawn on a whole copy then converted, and drawn part by part over the conversion.
void expectSameBothWays(const QImage& picture, const CursorSettings& cursor, const QPoint* pointer, CWatermark* mark) {
    Planes whole, parted;
    QImage copy = picture.copy();
    if (pointer) drawCursor(copy, cursor, pointer->x(), pointer->y());
    if (mark) mark->draw(copy);
    ASSERT_TRUE(convertToI420(copy, whole.planes()));

    std::vector<QRect> drawn;
    if (pointer) {
        const ScreenRect f = cursorFootprint(cursor, pointer->x(), pointer->y());
        drawn.emplace_back(int(f.left), int(f.top), int(f.width()), int(f.height()));
    }
    if (mark) drawn.push_back(mark->footprint(picture.size()));
    const QImage before = picture.copy();
    QImage scratch;
    ASSERT_TRUE(convertDrawnOver(
        picture, blockParts(drawn, picture.size()),
        [&](QImage& part, QPoint origin) {
            if (pointer) drawCursor(part, cursor, pointer->x() - origin.x(), pointer->y() - origin.y());
            if (mark) mark->drawPart(part, origin, picture.size());
        },
        scratch, parted.planes()));
    EXPECT_EQ(firstDifference(parted, whole), "");
    EXPECT_TRUE(picture == before) << "the picture read was drawn on";
}

}  // namespace

TEST(PatchedConversion, PartsAreWholeBlocksClippedToThePictureAndOverlappingOnesMerge) {
    const QSize size(kW, kH);
    // Odd edges grow outwards to even ones.
    EXPECT_EQ(blockParts({QRect(3, 5, 10, 7)}, size), std::vector<QRect>{QRect(2, 4, 12, 8)});
    // Cut off at the picture's edges, also past the top-left.
    EXPECT_EQ(blockParts({QRect(-5, -3, 10, 10)}, size), std::vector<QRect>{QRect(0, 0, 6, 8)});
    EXPECT_EQ(blockParts({QRect(kW - 3, kH - 1, 40, 40)}, size), std::vector<QRect>{QRect(kW - 4, kH - 2, 4, 2)});
    // Wholly outside, or empty: nothing.
    EXPECT_TRUE(blockParts({QRect(kW + 1, 0, 5, 5), QRect(), QRect(10, 10, 0, 4)}, size).empty());
    // Apart they stay apart; blocks that touch only after growing are merged, as a chain too.
    EXPECT_EQ(blockParts({QRect(0, 0, 4, 4), QRect(100, 100, 4, 4)}, size).size(), 2u);
    EXPECT_EQ(blockParts({QRect(0, 0, 5, 4), QRect(5, 0, 4, 4)}, size), std::vector<QRect>{QRect(0, 0, 10, 4)});
    EXPECT_EQ(blockParts({QRect(0, 0, 10, 10), QRect(50, 50, 10, 10), QRect(8, 8, 44, 44)}, size),
              std::vector<QRect>{QRect(0, 0, 60, 60)});
}

TEST(PatchedConversion, PointerDrawnOverTheConvertedPictureMatchesDrawingOnTheWhole) {
    const QImage picture = noisePicture();
    CursorSettings arrow;
    CursorSettings ring;
    ring.highlightType = kHighlightEllipse;
    ring.highlightSize = 31;   // odd: its edges fall inside 2 x 2 blocks
    ring.highlightOpacity = 70;
    ring.highlightColor = 0x0000FFFF;
    for (const CursorSettings* c : {&arrow, &ring})
        for (const QPoint at : {QPoint(101, 57), QPoint(0, 0), QPoint(-6, 130), QPoint(kW - 3, kH - 1), QPoint(kW - 1, 3)}) {
            SCOPED_TRACE("type " + std::to_string(c->highlightType) + " at " + std::to_string(at.x()) + "," +
                         std::to_string(at.y()));
            expectSameBothWays(picture, *c, &at, nullptr);
        }
}

TEST(PatchedConversion, WatermarkAndPointerOverlappingOrApartMatchDrawingOnTheWhole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string image = dir.filePath("mark.png").toStdString();
    QImage logo(37, 23, QImage::Format_ARGB32);
    for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x) logo.setPixelColor(x, y, QColor(255, 8 * y, 6 * x, 40 + 5 * x));
    ASSERT_TRUE(logo.save(QString::fromStdString(image)));
    const QImage picture = noisePicture();
    CursorSettings arrow;
    // Bottom right, 9 px margins, an odd size stretched: the mark covers x 240..310, y 190..230.
    CWatermark mark(markAt(image, 4, 71, 41, 9));
    ASSERT_EQ(mark.footprint(picture.size()), QRect(kW - 9 - 71, kH - 9 - 41, 71, 41));
    for (const QPoint at : {QPoint(251, 201), QPoint(235, 185), QPoint(20, 20)}) {
        SCOPED_TRACE(std::to_string(at.x()) + "," + std::to_string(at.y()));
        expectSameBothWays(picture, arrow, &at, &mark);
    }
    expectSameBothWays(picture, arrow, nullptr, &mark);
    // Wholly off the picture (a margin past its size): nothing to draw, nothing changed.
    CWatermark off(markAt(image, 0, 20, 20, 400));
    EXPECT_TRUE(off.footprint(picture.size()).isEmpty());
}

TEST(PatchedConversion, RgbxPicturesConvertAsTheirBgrxTwinsWithTheSameDrawing) {
    const QImage bgrx = noisePicture(), rgbx = noisePicture(QImage::Format_RGBX8888);
    Planes a, b;
    ASSERT_TRUE(convertToI420(bgrx, a.planes()));
    ASSERT_TRUE(convertToI420(rgbx, b.planes()));
    EXPECT_EQ(firstDifference(b, a), "");
    // Drawn on in place of either order: the same encoder input.
    CursorSettings arrow;
    const QPoint at(77, 31);
    QImage drawn = bgrx.copy();
    drawCursor(drawn, arrow, at.x(), at.y());
    ASSERT_TRUE(convertToI420(drawn, a.planes()));
    const ScreenRect f = cursorFootprint(arrow, at.x(), at.y());
    QImage scratch;
    ASSERT_TRUE(convertDrawnOver(
        rgbx, blockParts({QRect(int(f.left), int(f.top), int(f.width()), int(f.height()))}, rgbx.size()),
        [&](QImage& part, QPoint o) { drawCursor(part, arrow, at.x() - o.x(), at.y() - o.y()); }, scratch, b.planes()));
    EXPECT_EQ(firstDifference(b, a), "");
    // Other layouts are refused rather than misread.
    EXPECT_FALSE(convertToI420(bgrx.convertToFormat(QImage::Format_RGB888), a.planes()));
}

TEST(ChangedMacroblocks, ARectangleMarksExactlyTheMacroblocksItTouches) {
    const QSize size(kW, kH);   // 20 x 15 macroblocks
    std::vector<uint8_t> map;
    for (const QRect& r : {QRect(0, 0, 1, 1), QRect(15, 15, 2, 2), QRect(31, 40, 1, 30), QRect(300, 230, 40, 40),
                           QRect(-5, -5, 10, 10), QRect(100, 100, 16, 16)}) {
        const std::vector<QRect> parts = macroblockParts({r}, size);
        unchangedMacroblocks(parts, size, map);
        ASSERT_EQ(map.size(), 20u * 15u);
        const QRect clipped = r.intersected(QRect(QPoint(0, 0), size));
        for (int my = 0; my < 15; ++my)
            for (int mx = 0; mx < 20; ++mx) {
                const bool touched = QRect(mx * 16, my * 16, 16, 16).intersects(clipped);
                EXPECT_EQ(map[size_t(my) * 20 + size_t(mx)], touched ? 0 : 1)
                    << "macroblock " << mx << "," << my << " for " << r.x() << "," << r.y() << " " << r.width() << "x"
                    << r.height();
            }
    }
    // A picture whose sides are no multiple of 16: the last macroblocks are partial, still counted.
    unchangedMacroblocks(macroblockParts({QRect(99, 57, 1, 1)}, QSize(100, 58)), QSize(100, 58), map);
    ASSERT_EQ(map.size(), 7u * 4u);
    EXPECT_EQ(map[3 * 7 + 6], 0);
    EXPECT_EQ(std::count(map.begin(), map.end(), 0), 1);
    // Nothing changed: every macroblock is as before.
    unchangedMacroblocks({}, size, map);
    EXPECT_EQ(std::count(map.begin(), map.end(), 1), 20 * 15);
}

// Random changes over a picture already converted: converting only the changed macroblocks (with
// the pointer drawn at a new place) gives byte for byte the conversion of the whole, and every
// changed pixel lies in a macroblock that is not marked unchanged.
TEST(ChangedMacroblocks, ConvertingOnlyTheChangedPartsGivesTheWholeConversion) {
    std::mt19937 random(11);
    CursorSettings cursor;
    cursor.captureCursor = 1;
    QImage screen = noisePicture();
    QPoint pointer(50, 60);
    Planes planes;
    {
        QImage drawn = screen.copy();
        drawCursor(drawn, cursor, pointer.x(), pointer.y());
        ASSERT_TRUE(convertToI420(drawn, planes.planes()));
    }
    QImage scratch;
    std::vector<uint8_t> map;
    for (int round = 0; round < 40; ++round) {
        const QImage before = screen.copy();
        std::vector<QRect> changed;
        for (int n = int(random() % 4); n > 0; --n) {
            const QRect r(int(random() % kW) - 10, int(random() % kH) - 10, 1 + int(random() % 60), 1 + int(random() % 40));
            QPainter(&screen).fillRect(r, QColor::fromRgb(random() & 0xFFFFFF));
            changed.push_back(r);
        }
        const QPoint was = pointer;
        if (round % 3 == 0) pointer = QPoint(int(random() % kW), int(random() % kH));
        for (const QPoint& p : {was, pointer}) {
            const ScreenRect f = cursorFootprint(cursor, p.x(), p.y());
            changed.emplace_back(int(f.left), int(f.top), int(f.width()), int(f.height()));
        }
        const std::vector<QRect> parts = macroblockParts(changed, screen.size());
        unchangedMacroblocks(parts, screen.size(), map);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                if (screen.pixel(x, y) != before.pixel(x, y)) {
                    ASSERT_EQ(map[size_t(y / 16) * 20 + size_t(x / 16)], 0) << "changed pixel " << x << "," << y;
                }
            }

        const ScreenRect f = cursorFootprint(cursor, pointer.x(), pointer.y());
        ASSERT_TRUE(convertChangedDrawnOver(
            screen, parts, blockParts({QRect(int(f.left), int(f.top), int(f.width()), int(f.height()))}, screen.size()),
            [&](QImage& part, QPoint o) { drawCursor(part, cursor, pointer.x() - o.x(), pointer.y() - o.y()); }, scratch,
            planes.planes()));
        Planes whole;
        QImage drawn = screen.copy();
        drawCursor(drawn, cursor, pointer.x(), pointer.y());
        ASSERT_TRUE(convertToI420(drawn, whole.planes()));
        ASSERT_EQ(firstDifference(planes, whole), "") << "round " << round;
    }
    // A part that would split a chroma sample is refused, not converted wrongly.
    EXPECT_FALSE(convertChangedDrawnOver(screen, {QRect(1, 0, 16, 16)}, {}, [](QImage&, QPoint) {}, scratch,
                                         planes.planes()));
}
