#include <gtest/gtest.h>

#include "engine/FrameClock.h"
#include "engine/SettingsValidation.h"
#include "engine/WorkerSettings.h"

using namespace torvane;

TEST(FrameClock, PositionsAreWholeFramePeriodsOfRecordedTime) {
    EXPECT_EQ(framePosition(0, 8), 0);
    EXPECT_EQ(framePosition(124, 8), 0);
    EXPECT_EQ(framePosition(125, 8), 1);
    EXPECT_EQ(framePosition(66, 15), 0);
    EXPECT_EQ(framePosition(67, 15), 1);
    // The next position starts at the first millisecond that maps to it.
    for (int fps : {3, 8, 15, 24, 29, 30}) {
        for (int64_t pos = 0; pos < 200; ++pos) {
            const uint64_t ms = positionStartMs(pos, fps);
            EXPECT_EQ(framePosition(ms, fps), pos) << fps << " " << pos;
            if (ms > 0) {
                EXPECT_EQ(framePosition(ms - 1, fps), pos - 1) << fps << " " << pos;
            }
        }
    }
}

TEST(FrameClock, RecordedTimeSkipsPausesAndSurvivesTheTickWrap) {
    // 10 s recorded, resumed: the first picture of the new run is at position 100 at 10 fps.
    EXPECT_EQ(framePosition(recordedAt(10000, 5000, 5000), 10), 100);
    EXPECT_EQ(recordedAt(0, 0xFFFFFF00u, 0x00000100u), 0x200u);
    // Long recordings at high rates do not wrap in the position arithmetic.
    EXPECT_EQ(framePosition(200ull * 3600 * 1000, 30), int64_t(200) * 3600 * 30);
}

TEST(SettingsValidation, RefusesWhatWouldCrashAndAcceptsTheDialogsRanges) {
    ScreenSettings ok;
    ok.sourceKind = kSourceArea;
    ok.rect = {0, 0, 200, 200};
    ok.outputWidth = 66;
    ok.outputHeight = 66;
    ok.frameRate = 3;
    EXPECT_EQ(validateForRecording(ok), "");
    ok.frameRate = 30;
    EXPECT_EQ(validateForRecording(ok), "");

    ScreenSettings s = ok;
    s.frameRate = 0;
    EXPECT_NE(validateForRecording(s).find("frame rate 0"), std::string::npos);
    s.sourceKind = kSourceWebcam;   // webcam-only runs at 24 whatever is stored
    s.outputWidth = 640;
    s.outputHeight = 480;
    EXPECT_EQ(validateForRecording(s), "");
    EXPECT_EQ(effectiveFrameRate(s), 24);

    s = ok;
    s.outputWidth = 100000;
    EXPECT_NE(validateForRecording(s), "");
    s = ok;
    s.sourceKind = 9;
    EXPECT_NE(validateForRecording(s), "");
    s = ok;
    s.rect = {500, 500, 100, 100};
    EXPECT_NE(validateForRecording(s), "");
    s = ok;
    s.rect = {INT32_MIN, 0, INT32_MAX, 100};
    EXPECT_NE(validateForRecording(s), "");
}
