// The watermark in real recordings of the test display, read back from the decoded file.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "engine/CaptureSession.h"
#include "settings/CaptureRules.h"
#include "tests/system/engine/MediaProbe.h"
#include "tests/system/engine/XPainter.h"

using namespace torvane;
using namespace std::chrono_literals;

namespace {

std::string outDir() {
    const char* d = std::getenv("TORVANE_TEST_ENV");
    return d ? d : "/tmp";
}

void recordFor(std::chrono::milliseconds d) {
    const auto end = std::chrono::steady_clock::now() + d;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(10ms);
    }
}

// A red 100 x 50 image on disk.
std::string redImage() {
    const std::string path = outDir() + "/red-mark.png";
    QImage image(100, 50, QImage::Format_ARGB32);
    image.fill(Qt::red);
    image.save(QString::fromStdString(path));
    return path;
}

WatermarkSettings bottomRight(const std::string& image, int opacity) {
    WatermarkSettings w;
    w.on = 1;
    toUtf16Field(image, w.imagePath, 260);
    w.width = 100;
    w.height = 50;
    w.position = 4;
    w.opacity = opacity;
    w.marginX = 10;
    w.marginY = 10;
    return w;
}

// Records a black screen area with the watermark and returns decoded picture 3.
std::optional<Picture> record(const std::string& name, ScreenRect area, int sizeChoice, const WatermarkSettings& mark) {
    ScreenSettings screen;
    screen.sourceKind = kSourceArea;
    screen.rect = area;
    screen.frameRate = 10;
    screen.sizeChoice = sizeChoice;
    applyOutputSize(screen);
    CursorSettings cursor;
    cursor.captureCursor = 0;
    CCaptureSession s;
    if (!(s.setScreenSettings(screen) && s.setSoundEnabled(0) && s.setSoundOption(0) && s.setCursorSettings(cursor) &&
          s.setWebcamSettings({}) && s.setPipSettings({}) && s.setWatermarkSettings(mark))) {
        ADD_FAILURE() << s.lastError();
        return std::nullopt;
    }
    const std::string file = outDir() + "/" + name + ".avi";
    if (!s.start(file, nullptr)) {
        ADD_FAILURE() << s.lastError();
        return std::nullopt;
    }
    recordFor(800ms);
    s.stop();
    EXPECT_EQ(decodeErrors(file), "");
    return decodePicture(file, 0, screen.outputWidth, screen.outputHeight);   // the screen is still: one picture
}

bool isRed(const std::array<int, 3>& p) { return p[0] > 160 && p[1] < 90 && p[2] < 90; }

// Bounding box of the red pixels (inclusive corners), or nothing.
std::optional<std::array<int, 4>> redBox(const Picture& p) {
    int l = p.width, t = p.height, r = -1, b = -1;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (isRed(p.at(x, y))) l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), b = std::max(b, y);
    if (r < 0) return std::nullopt;
    return std::array<int, 4>{l, t, r, b};
}

void expectBox(const Picture& p, std::array<int, 4> want) {
    ASSERT_EQ(static_cast<size_t>(p.width) * p.height * 3, p.rgb.size());
    const auto box = redBox(p);
    ASSERT_TRUE(box.has_value());
    for (int i = 0; i < 4; ++i) EXPECT_NEAR((*box)[i], want[i], 1) << "edge " << i;
}

class WatermarkRecording : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(x.ok());
        background = x.window(0, 0, 1600, 1200, 0x000000);
        image = redImage();
    }
    void TearDown() override { x.destroy(background); }
    XPainter x;
    uint32_t background = 0;
    std::string image;
};

}  // namespace

TEST_F(WatermarkRecording, BottomRightWithMarginsOnAnEightHundredBySixHundredCapture) {
    const auto p = record("mark-800", {0, 0, 800, 600}, 0, bottomRight(image, 100));
    ASSERT_TRUE(p.has_value());
    expectBox(*p, {690, 540, 789, 589});
    EXPECT_FALSE(isRed(p->at(400, 300)));
}

TEST_F(WatermarkRecording, ScaledCaptureShowsTheWatermarkAtHalfSize) {
    // 1600 x 1200 halved to 800 x 600: drawn at (1490, 1140)-(1590, 1190) before scaling.
    const auto p = record("mark-1600", {0, 0, 1600, 1200}, 2, bottomRight(image, 100));
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->width, 800);
    expectBox(*p, {745, 570, 794, 594});
}

TEST_F(WatermarkRecording, OpacityAndUnreadableImage) {
    const auto half = record("mark-half", {0, 0, 800, 600}, 0, bottomRight(image, 50));
    ASSERT_TRUE(half.has_value());
    const auto c = half->at(740, 565);
    EXPECT_NEAR(c[0], 128, 24);   // half of the red over black
    EXPECT_LT(c[1], 40);
    const auto none = record("mark-none", {0, 0, 800, 600}, 0, bottomRight(image, 0));
    ASSERT_TRUE(none.has_value());
    EXPECT_FALSE(redBox(*none).has_value());
    const auto missing = record("mark-missing", {0, 0, 800, 600}, 0, bottomRight(outDir() + "/no-such.png", 100));
    ASSERT_TRUE(missing.has_value());
    EXPECT_FALSE(redBox(*missing).has_value());
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
