#include <gtest/gtest.h>

#include "tools/torvane_record/RecordPlan.h"

using namespace torvane;
using namespace torvane::record;

namespace {

const ScreenRect kScreen{0, 0, 1366, 768};
const ScreenRect kWorkArea{0, 0, 1366, 728};

CaptureSettings planned(const RecordOptions& o, CaptureSettings s = {}) {
    std::string error;
    EXPECT_TRUE(applyRecordOptions(s, o, false, error)) << error;
    computeCaptureGeometry(s, kScreen, kWorkArea);
    return s;
}

}  // namespace

TEST(RecordPlan, FullScreenFromTheStoredRecord) {
    CaptureSettings stored;
    stored.screen.sizeChoice = 2;
    stored.screen.liveWindow = 1234;   // meaningless for full screen
    const CaptureSettings s = planned({}, stored);
    EXPECT_EQ(s.screen.rect, (ScreenRect{0, 0, 1368, 768}));
    EXPECT_EQ(s.screen.outputWidth, 684);
    EXPECT_EQ(s.screen.outputHeight, 384);
    EXPECT_EQ(s.screen.liveWindow, 0);

    RecordOptions o;
    o.taskbar = 0;
    o.sizeChoice = 0;
    const CaptureSettings w = planned(o, stored);
    EXPECT_EQ(w.screen.rect, (ScreenRect{0, 0, 1368, 728}));
    EXPECT_EQ(w.screen.outputHeight, 728);
}

TEST(RecordPlan, AreaImpliesTheAreaSourceAndIsNormalised) {
    RecordOptions o;
    o.area = ScreenRect{10, 10, 260, 110};
    const CaptureSettings s = planned(o);
    EXPECT_EQ(s.screen.sourceKind, kSourceArea);
    EXPECT_EQ(s.screen.rect, (ScreenRect{10, 10, 262, 210}));
    EXPECT_EQ(s.screen.outputWidth, 252);

    o.sourceKind = kSourceFullScreen;   // an explicit source wins
    EXPECT_EQ(planned(o).screen.sourceKind, kSourceFullScreen);
}

TEST(RecordPlan, WindowImpliesTheLiveSessionSource) {
    RecordOptions o;
    o.window = 0x400001;
    EXPECT_EQ(planned(o).screen.sourceKind, kSourceLiveSession);
}

TEST(RecordPlan, WebcamSourceNeedsADevice) {
    RecordOptions o;
    o.sourceKind = kSourceWebcam;
    CaptureSettings s;
    std::string error;
    EXPECT_FALSE(applyRecordOptions(s, o, false, error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(applyRecordOptions(s, o, true, error));   // a device exists, none is chosen
    EXPECT_EQ(error, "Please select the video input device.");
}

TEST(RecordPlan, CursorSoundAndEncoderOptionsReachTheRecord) {
    CaptureSettings stored;
    stored.soundOption = kSoundBoth;
    stored.cursor.highlightType = kHighlightRectangle;
    RecordOptions o;
    o.cursor = kCursorOff;
    o.sound = SoundChoice::Off;
    o.fps = 30;
    o.quality = 1;
    CaptureSettings s = planned(o, stored);
    EXPECT_EQ(s.cursor.captureCursor, 0);
    EXPECT_EQ(s.cursor.highlightType, kHighlightRectangle);
    EXPECT_EQ(s.soundEnabled, 0);
    EXPECT_EQ(s.soundOption, kSoundBoth);   // off keeps the stored choice for next time
    EXPECT_EQ(s.screen.frameRate, 30);
    EXPECT_EQ(s.screen.quality, 1);

    o.cursor = kHighlightEllipse;
    o.sound = SoundChoice::System;
    o.highlightColor = 0x00FF0000;
    s = planned(o, stored);
    EXPECT_EQ(s.cursor.captureCursor, 1);
    EXPECT_EQ(s.cursor.highlightType, kHighlightEllipse);
    EXPECT_EQ(s.cursor.highlightColor, 0x00FF0000u);
    EXPECT_EQ(s.soundEnabled, 1);
    EXPECT_EQ(s.soundOption, kSoundSystem);
}

TEST(RecordPlan, PictureInPictureTakesTheWebcamSize) {
    CaptureSettings stored;
    stored.pip.on = 1;
    stored.webcam.width = 320;
    stored.webcam.height = 240;
    const CaptureSettings s = planned({}, stored);
    EXPECT_EQ(s.pip.width, 320);
    EXPECT_EQ(s.pip.height, 240);
}
