#include <gtest/gtest.h>

#include <climits>

#include "settings/CaptureRules.h"

using namespace torvane;

namespace {

ScreenSettings withRect(ScreenRect r, int32_t sizeChoice) {
    ScreenSettings s;
    s.rect = r;
    s.sizeChoice = sizeChoice;
    return s;
}

std::pair<int32_t, int32_t> outputFor(ScreenRect r, int32_t choice) {
    ScreenSettings s = withRect(r, choice);
    applyOutputSize(s);
    return {s.outputWidth, s.outputHeight};
}

WebcamSettings webcamOf(uint16_t w, uint16_t h) {
    WebcamSettings c;
    c.width = w;
    c.height = h;
    return c;
}

}  // namespace

TEST(OutputSize, ChoicesOnA1366x768Screen) {
    const ScreenRect screen{0, 0, 1366, 768};
    using P = std::pair<int32_t, int32_t>;
    EXPECT_EQ(outputFor(screen, 0), P(1366, 768));
    EXPECT_EQ(outputFor(screen, 1), P(902, 506));
    EXPECT_EQ(outputFor(screen, 2), P(684, 384));
    EXPECT_EQ(outputFor(screen, 3), P(450, 254));
    EXPECT_EQ(outputFor(screen, 4), P(800, 600));
    EXPECT_EQ(outputFor(screen, 5), P(640, 480));
    EXPECT_EQ(outputFor(screen, 6), P(320, 240));
}

TEST(OutputSize, TruncatesTheDoubleProductsAndRaisesOddResults) {
    using P = std::pair<int32_t, int32_t>;
    EXPECT_EQ(outputFor({0, 0, 1920, 1080}, 1), P(1268, 712));
    EXPECT_EQ(outputFor({0, 0, 200, 200}, 3), P(66, 66));
    // The live-session example: 1004 x 604 at one third is 331 x 199, raised to even.
    EXPECT_EQ(outputFor({10, 20, 1014, 624}, 3), P(332, 200));
    // Only the rectangle's size matters, not where it is.
    EXPECT_EQ(outputFor({-500, 300, 866, 1068}, 2), P(684, 384));
}

TEST(OutputSize, ChoiceOutsideTheTableKeepsTheStoredSize) {
    for (int32_t choice : {7, 9, -1, INT32_MAX}) {
        ScreenSettings s = withRect({0, 0, 1366, 768}, choice);
        s.outputWidth = 1000;
        s.outputHeight = 500;
        applyOutputSize(s);
        EXPECT_EQ(s.outputWidth, 1000) << choice;
        EXPECT_EQ(s.outputHeight, 500) << choice;
    }
}

TEST(OutputSize, AbsurdRectanglesDoNotOverflow) {
    // Runs under UBSan: the width does not fit 32 bits; the result saturates.
    ScreenSettings s = withRect({INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, 1);
    applyOutputSize(s);
    EXPECT_EQ(s.outputWidth, INT32_MAX);
}

TEST(CaptureRect, MinimumThenMultipleOfFour) {
    EXPECT_EQ(normaliseCaptureRect({10, 20, 260, 270}), (ScreenRect{10, 20, 262, 272}));   // 250 -> 252
    EXPECT_EQ(normaliseCaptureRect({10, 20, 160, 170}), (ScreenRect{10, 20, 210, 220}));   // 150 -> 200
    EXPECT_EQ(normaliseCaptureRect({30, 40, 30, 40}), (ScreenRect{30, 40, 230, 240}));     // empty
    EXPECT_EQ(normaliseCaptureRect({0, 0, 1366, 768}), (ScreenRect{0, 0, 1368, 768}));
    EXPECT_EQ(normaliseCaptureRect({-3, -3, 798, 599}), (ScreenRect{-3, -3, 801, 601}));   // 801 x 602 -> 804 x 604
}

TEST(CaptureRect, InvertedAndAbsurdRectangles) {
    // Inverted: treated as too narrow, so it becomes the minimum at its left/top corner.
    EXPECT_EQ(normaliseCaptureRect({500, 400, 100, 50}), (ScreenRect{500, 400, 700, 600}));
    // Near the 32-bit limits the result saturates instead of overflowing.
    EXPECT_EQ(normaliseCaptureRect({INT32_MAX - 10, 0, INT32_MAX, 200}).right, INT32_MAX);
    EXPECT_EQ(roundUpTo4(802), 804);
    EXPECT_EQ(roundUpTo4(600), 600);
    EXPECT_EQ(roundUpTo4(INT32_MAX), INT32_MAX);
}

TEST(RectBySourceKind, FullScreenUsesTheScreenOrTheWorkArea) {
    const ScreenRect screen{0, 0, 1366, 768};
    const ScreenRect workArea{0, 24, 1366, 768};
    ScreenSettings s;
    s.rect = {5, 5, 10, 10};
    applyRectBySourceKind(s, {}, screen, workArea);
    EXPECT_EQ(s.rect, (ScreenRect{0, 0, 1368, 768}));

    s.includeTaskbar = 0;
    applyRectBySourceKind(s, {}, screen, workArea);
    EXPECT_EQ(s.rect, (ScreenRect{0, 24, 1368, 768}));   // 744 high is already a multiple of 4

    // A monitor away from the origin (a primary output on the right, a chosen second monitor) is
    // recorded where it is, not at the origin's place.
    s.includeTaskbar = 1;
    applyRectBySourceKind(s, {}, ScreenRect{1920, 0, 3200, 720}, workArea);
    EXPECT_EQ(s.rect, (ScreenRect{1920, 0, 3200, 720}));
}

TEST(RectBySourceKind, AreaAndLiveSessionKeepTheirRectangleNormalised) {
    for (int32_t kind : {kSourceArea, kSourceLiveSession}) {
        ScreenSettings s;
        s.sourceKind = kind;
        s.rect = {100, 100, 350, 250};
        applyRectBySourceKind(s, webcamOf(640, 480), {0, 0, 1366, 768}, {0, 0, 1366, 768});
        EXPECT_EQ(s.rect, (ScreenRect{100, 100, 352, 300})) << kind;
    }
}

TEST(RectBySourceKind, WebcamOnlyUsesTheWebcamPicture) {
    ScreenSettings s;
    s.sourceKind = kSourceWebcam;
    s.rect = {0, 0, 1366, 768};
    applyRectBySourceKind(s, webcamOf(640, 480), {0, 0, 1920, 1080}, {0, 0, 1920, 1080});
    applyOutputSize(s);
    EXPECT_EQ(s.rect, (ScreenRect{0, 0, 640, 480}));
    EXPECT_EQ(s.outputWidth, 640);
    EXPECT_EQ(s.outputHeight, 480);

    // A small webcam keeps its size: the minimum is applied before the webcam picture.
    applyRectBySourceKind(s, webcamOf(160, 120), {0, 0, 1920, 1080}, {0, 0, 1920, 1080});
    EXPECT_EQ(s.rect, (ScreenRect{0, 0, 160, 120}));
    s.sizeChoice = 6;
    applyOutputSize(s);
    EXPECT_EQ(s.outputWidth, 320);
    EXPECT_EQ(s.outputHeight, 240);
}
