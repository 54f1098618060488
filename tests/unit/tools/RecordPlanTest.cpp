#include <gtest/gtest.h>

#include <QImage>

#include "tools/torvane_record/RecordPlan.h"

using namespace torvane;
using namespace torvane::record;

namespace {

CaptureSettings planned(const RecordOptions& o, CaptureSettings s = {}) {
    std::string error;
    EXPECT_TRUE(applyRecordOptions(s, o, false, error)) << error;
    computeCaptureGeometry(s, {0, 0, 1366, 768}, {0, 0, 1366, 728});
    return s;
}

}  // namespace

TEST(RecordPlan, AreaAndWindowImplyTheirSourceUnlessOneIsGiven) {
    RecordOptions o;
    o.area = ScreenRect{10, 10, 260, 110};
    CaptureSettings s = planned(o);
    EXPECT_EQ(s.screen.sourceKind, kSourceArea);
    EXPECT_EQ(s.screen.rect, (ScreenRect{10, 10, 262, 210}));
    EXPECT_EQ(s.screen.outputWidth, 252);

    o.sourceKind = kSourceFullScreen;
    o.taskbar = 0;
    s = planned(o);
    EXPECT_EQ(s.screen.rect, (ScreenRect{0, 0, 1368, 728}));

    RecordOptions w;
    w.window = 0x400001;
    EXPECT_EQ(planned(w).screen.sourceKind, kSourceLiveSession);
}

TEST(RecordPlan, LiveWindowFieldIsClearedForOtherSources) {
    CaptureSettings stored;
    stored.screen.liveWindow = 1234;
    EXPECT_EQ(planned({}, stored).screen.liveWindow, 0);
}

TEST(RecordPlan, SoundOffKeepsTheStoredChoiceAndCursorOffKeepsTheHighlight) {
    CaptureSettings stored;
    stored.soundOption = kSoundBoth;
    stored.cursor.highlightType = kHighlightRectangle;
    RecordOptions o;
    o.cursor = kCursorOff;
    o.sound = SoundChoice::Off;
    const CaptureSettings s = planned(o, stored);
    EXPECT_EQ(s.cursor.captureCursor, 0);
    EXPECT_EQ(s.cursor.highlightType, kHighlightRectangle);
    EXPECT_EQ(s.soundEnabled, 0);
    EXPECT_EQ(s.soundOption, kSoundBoth);
}

TEST(RecordPlan, WebcamSourceNeedsAChosenDevice) {
    RecordOptions o;
    o.sourceKind = kSourceWebcam;
    CaptureSettings s;
    std::string error;
    EXPECT_FALSE(applyRecordOptions(s, o, false, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(applyRecordOptions(s, o, true, error));
    EXPECT_EQ(error, "Please select the video input device.");
}

TEST(RecordPlan, WatermarkOptionsFillTheRecordAndDefaultToTheImagesSize) {
    const std::string image = ::testing::TempDir() + "/mark.png";
    QImage(300, 100, QImage::Format_ARGB32).save(QString::fromStdString(image));
    RecordOptions o;
    o.watermark = image;
    o.watermarkPosition = 4;
    o.watermarkOpacity = 50;
    o.watermarkMargin = {{10, 12}};
    CaptureSettings s = planned(o);
    EXPECT_EQ(s.watermark.on, 1);
    EXPECT_EQ(fromUtf16Field(s.watermark.imagePath, 260), image);
    EXPECT_EQ(s.watermark.width, 300);
    EXPECT_EQ(s.watermark.height, 100);
    EXPECT_EQ(s.watermark.position, 4);
    EXPECT_EQ(s.watermark.opacity, 50);
    EXPECT_EQ(s.watermark.marginY, 12);

    o.watermarkSize = {{100, 50}};
    s = planned(o);
    EXPECT_EQ(s.watermark.width, 100);
    EXPECT_EQ(s.watermark.height, 50);
}
