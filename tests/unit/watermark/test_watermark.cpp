#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <optional>

#include "engine/Watermark.h"

using torvane::CWatermark;
using torvane::WatermarkSettings;

namespace {

QImage blackPicture(int w = 800, int h = 600) {
    QImage picture(w, h, QImage::Format_RGB32);
    picture.fill(Qt::black);
    return picture;
}

WatermarkSettings settingsFor(const QString& path, int w, int h, int position, int opacity, int mx, int my) {
    WatermarkSettings s;
    s.on = 1;
    torvane::toUtf16Field(path.toStdString(), s.imagePath, std::size(s.imagePath));
    s.width = w;
    s.height = h;
    s.position = position;
    s.opacity = opacity;
    s.marginX = mx;
    s.marginY = my;
    return s;
}

// The bounding box of every pixel that is not black, or nothing.
std::optional<QRect> paintedArea(const QImage& picture) {
    int l = picture.width(), t = picture.height(), r = -1, b = -1;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if ((picture.pixel(x, y) & 0xFFFFFF) != 0) {
                l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), b = std::max(b, y);
            }
    if (r < 0) return std::nullopt;
    return QRect(QPoint(l, t), QPoint(r, b));
}

class WatermarkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString makeImage(const QString& name, int w, int h, QColor colour) {
        QImage image(w, h, QImage::Format_ARGB32);
        image.fill(colour);
        const QString path = dir.filePath(name);
        EXPECT_TRUE(image.save(path)) << path.toStdString();
        return path;
    }
    QTemporaryDir dir;
};

}  // namespace

TEST_F(WatermarkTest, BottomRightWithMarginsCoversExactlyItsRectangle) {
    const QString path = makeImage("mark.png", 100, 50, Qt::red);
    CWatermark mark(settingsFor(path, 100, 50, 4, 100, 10, 10));
    QImage picture = blackPicture();
    mark.draw(picture);
    ASSERT_TRUE(mark.loaded());
    EXPECT_EQ(mark.destination(), QRect(690, 540, 100, 50));
    const auto area = paintedArea(picture);
    ASSERT_TRUE(area.has_value());
    EXPECT_EQ(*area, QRect(QPoint(690, 540), QPoint(789, 589)));   // (690, 540) to (790, 590) exclusive
    EXPECT_EQ(QColor(picture.pixel(740, 565)), QColor(Qt::red));
}

TEST_F(WatermarkTest, TheWholeImageIsStretchedIntoTheSetSize) {
    // A 40 x 20 image, left half green and right half blue, drawn at 200 x 100 in the centre.
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::green);
    for (int y = 0; y < 20; ++y)
        for (int x = 20; x < 40; ++x) image.setPixel(x, y, qRgb(0, 0, 255));
    const QString path = dir.filePath("halves.bmp");
    ASSERT_TRUE(image.save(path));
    CWatermark mark(settingsFor(path, 200, 100, 8, 100, 50, 50));
    QImage picture = blackPicture(800, 600);
    mark.draw(picture);
    const auto area = paintedArea(picture);
    ASSERT_TRUE(area.has_value());
    EXPECT_EQ(*area, QRect(300, 250, 200, 100));
    EXPECT_EQ(QColor(picture.pixel(310, 300)), QColor(Qt::green));
    EXPECT_EQ(QColor(picture.pixel(490, 300)), QColor(0, 0, 255));
}

TEST_F(WatermarkTest, OpacityMultipliesTheImagesOwnAlpha) {
    const QString opaque = makeImage("white.png", 10, 10, Qt::white);
    const QString halfAlpha = makeImage("half.png", 10, 10, QColor(255, 255, 255, 128));
    struct Case {
        QString path;
        int opacity;
        int expected;
    };
    for (const Case& c : {Case{opaque, 0, 0}, Case{opaque, 50, 128}, Case{opaque, 100, 255},
                          Case{halfAlpha, 100, 128}, Case{halfAlpha, 50, 64}}) {
        CWatermark mark(settingsFor(c.path, 10, 10, 0, c.opacity, 0, 0));
        QImage picture = blackPicture(20, 20);
        mark.draw(picture);
        EXPECT_NEAR(qRed(picture.pixel(5, 5)), c.expected, 2) << "opacity " << c.opacity;
        EXPECT_EQ(picture.pixel(15, 15) & 0xFFFFFF, 0u);
    }
}

TEST_F(WatermarkTest, UnreadableOrMissingImageDrawsNothing) {
    const QString notAnImage = dir.filePath("text.png");
    QFile f(notAnImage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is not a picture");
    f.close();
    for (const QString& path : {notAnImage, dir.filePath("missing.jpg"), QString()}) {
        CWatermark mark(settingsFor(path, 100, 50, 0, 100, 0, 0));
        QImage picture = blackPicture(200, 100);
        mark.draw(picture);
        mark.draw(picture);
        EXPECT_FALSE(mark.loaded());
        EXPECT_FALSE(paintedArea(picture).has_value()) << path.toStdString();
    }
}

TEST_F(WatermarkTest, ImageIsLoadedOnceAndKeptWhenTheFileGoes) {
    const QString path = makeImage("mark.jpg", 30, 30, Qt::white);
    CWatermark mark(settingsFor(path, 30, 30, 0, 100, 0, 0));
    QImage first = blackPicture(100, 100);
    mark.draw(first);
    ASSERT_TRUE(QFile::remove(path));
    QImage second = blackPicture(100, 100);
    mark.draw(second);
    const auto area = paintedArea(second);
    ASSERT_TRUE(area.has_value());
    EXPECT_EQ(*area, QRect(0, 0, 30, 30));
}

TEST_F(WatermarkTest, OffOrEmptySizeDrawsNothing) {
    const QString path = makeImage("other.png", 30, 30, Qt::white);
    WatermarkSettings off = settingsFor(path, 30, 30, 0, 100, 0, 0);
    off.on = 0;
    WatermarkSettings noSize = settingsFor(path, 0, 30, 0, 100, 0, 0);
    WatermarkSettings absurd = settingsFor(path, 1 << 30, 1 << 30, 0, 100, 0, 0);
    for (const WatermarkSettings& s : {off, noSize, absurd}) {
        CWatermark mark(s);
        QImage picture = blackPicture(100, 100);
        mark.draw(picture);
        EXPECT_FALSE(paintedArea(picture).has_value());
    }
}
