// Recordings of the real test display, read back with ffprobe and ffmpeg.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "Losses.h"
#include "MediaProbe.h"
#include "SessionSetup.h"
#include "XPainter.h"
#include "engine/CaptureSession.h"
#include "engine/LiveSession.h"
#include "engine/ScreenCaptureWorker.h"
#include "platform/core/WindowMessage.h"
#include "settings/CaptureRules.h"

using namespace torvane;
using namespace torvane::test;
using namespace std::chrono_literals;

namespace {

// Counts the window messages that reach it.
class MessageCounter : public QObject {
public:
    int stops = 0;
    bool event(QEvent* e) override {
        if (e->type() == WindowMessageEvent::eventType() &&
            static_cast<WindowMessageEvent*>(e)->message == WM_RECORDER_STOP) {
            ++stops;
            return true;
        }
        return QObject::event(e);
    }
};

void recordFor(std::chrono::milliseconds d) {
    const auto end = std::chrono::steady_clock::now() + d;
    while (std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(10ms);
    }
}

bool near(std::array<int, 3> got, std::array<int, 3> want, int tolerance = 12) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(got[i] - want[i]) > tolerance) return false;
    return true;
}

::testing::AssertionResult colourIs(const Picture& p, int x, int y, std::array<int, 3> want, int tol = 12) {
    if (p.rgb.size() < size_t(p.width) * p.height * 3) return ::testing::AssertionFailure() << "no picture decoded";
    const auto c = p.at(x, y);
    if (near(c, want, tol)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at (" << x << "," << y << ") got " << c[0] << "," << c[1] << ","
                                         << c[2] << " want " << want[0] << "," << want[1] << "," << want[2];
}

}  // namespace

TEST(Recording, AreaWithOddSizeIsAValidFileWithRoundedHeaders) {
    XPainter x;
    ASSERT_TRUE(x.ok());
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x202020);
    CCaptureSession s;
    ASSERT_TRUE(prepare(s, areaSettings({100, 50, 902, 652}, 8)));
    const std::string file = outDir() + "/odd.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    EXPECT_EQ(s.state(), kStateRecording);
    recordFor(5000ms);
    ASSERT_TRUE(s.stop());
    EXPECT_EQ(s.state(), kStateIdle);
    EXPECT_EQ(lossesBesidesLate(s.lossReport()), "");

    EXPECT_EQ(decodeErrors(file), "");
    EXPECT_EQ(aviFrameSize(file), std::make_pair(804, 604));
    const std::string v = probeStream(file, "v:0", "codec_name,codec_tag_string,width,height");
    EXPECT_NE(v.find("codec_name=h264"), std::string::npos) << v;
    EXPECT_NE(v.find("codec_tag_string=x264"), std::string::npos) << v;
    EXPECT_NE(v.find("width=802"), std::string::npos) << v;
    EXPECT_NE(v.find("height=602"), std::string::npos) << v;
    EXPECT_EQ(probeStream(file, "a", "codec_name"), "");

    // Positions follow the recording clock: 5 s at 8 fps. A still screen after the first picture
    // is empty entries; the time line is as long either way.
    const int64_t positions = videoPositions(file);
    EXPECT_GE(positions, 38);
    EXPECT_LE(positions, 42);
    const auto packets = videoPackets(file);
    ASSERT_FALSE(packets.empty());
    EXPECT_TRUE(packets.front().key);
    EXPECT_EQ(packets.front().pts, 0);
    size_t filled = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i > 0) {
            EXPECT_GT(packets[i].pts, packets[i - 1].pts);
        }
        if (packets[i].size > 0) ++filled;
    }
    // Every picture the encoder was given is in the file, every other position is accounted for.
    const CaptureStatistics st = s.statistics();
    EXPECT_EQ(filled, st.framesWritten);
    EXPECT_EQ(int64_t(st.framesWritten + st.framesUnchanged + st.framesSkipped), positions);
    x.destroy(bg);
}

TEST(Recording, DecodedPicturesShowTheDisplay) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x000000);
    const uint32_t red = x.window(200, 200, 100, 100, 0xFF0000);
    const uint32_t green = x.window(300, 200, 100, 100, 0x00FF00);
    const uint32_t blue = x.window(200, 300, 100, 100, 0x0000FF);
    CCaptureSession s;
    ASSERT_TRUE(prepare(s, areaSettings({200, 200, 520, 440}, 10)));
    const std::string file = outDir() + "/colours.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    recordFor(1000ms);
    ASSERT_TRUE(s.stop());
    const Picture p = decodePicture(file, 0, 320, 240);
    EXPECT_TRUE(colourIs(p, 50, 50, {255, 0, 0}));
    EXPECT_TRUE(colourIs(p, 150, 50, {0, 255, 0}));
    EXPECT_TRUE(colourIs(p, 50, 150, {0, 0, 255}));
    EXPECT_TRUE(colourIs(p, 250, 150, {0, 0, 0}));
    for (uint32_t w : {blue, green, red, bg}) x.destroy(w);
}

TEST(Recording, AreaPastTheScreenEdgeIsBlackOutside) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0xFFFFFF);
    CCaptureSession s;
    // 1280x720 display; the area reaches 120 px past the right edge and 80 px past the bottom.
    ASSERT_TRUE(prepare(s, areaSettings({1000, 400, 1400, 800}, 10)));
    const std::string file = outDir() + "/edge.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    recordFor(600ms);
    ASSERT_TRUE(s.stop());
    const Picture p = decodePicture(file, 0, 400, 400);
    EXPECT_TRUE(colourIs(p, 100, 100, {255, 255, 255}));
    EXPECT_TRUE(colourIs(p, 350, 100, {0, 0, 0}));
    EXPECT_TRUE(colourIs(p, 100, 350, {0, 0, 0}));
    x.destroy(bg);
}

TEST(Recording, ScaledOutputKeepsTheLayout) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x000000);
    const uint32_t red = x.window(0, 0, 640, 720, 0xFF0000);
    CCaptureSession s;
    ScreenSettings full;
    full.sourceKind = kSourceFullScreen;
    full.rect = {0, 0, 1280, 720};
    full.sizeChoice = 2;   // 640x360
    full.frameRate = 10;
    applyOutputSize(full);
    ASSERT_EQ(full.outputWidth, 640);
    ASSERT_TRUE(prepare(s, full));
    const std::string file = outDir() + "/half.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    recordFor(600ms);
    ASSERT_TRUE(s.stop());
    const Picture p = decodePicture(file, 0, 640, 360);
    EXPECT_TRUE(colourIs(p, 160, 180, {255, 0, 0}));
    EXPECT_TRUE(colourIs(p, 480, 180, {0, 0, 0}));
    x.destroy(red);
    x.destroy(bg);
}

// Half a second of the 400 x 400 area at (200, 200) with the pointer at (300, 300); its first picture.
Picture recordPointer(const CursorSettings& cursor, const char* name) {
    CCaptureSession s;
    EXPECT_TRUE(prepare(s, areaSettings({200, 200, 600, 600}, 10), cursor));
    const std::string file = outDir() + "/" + name + ".avi";
    EXPECT_TRUE(s.start(file, nullptr)) << s.lastError();
    recordFor(500ms);
    s.stop();
    return decodePicture(file, 0, 400, 400);
}

CursorSettings highlight(int type, uint32_t colour, int opacity, int size) {
    CursorSettings c;
    c.highlightType = type;
    c.highlightColor = colour;
    c.highlightOpacity = opacity;
    c.highlightSize = size;
    return c;
}

TEST(Recording, PointerArrowAndHighlights) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x000000);
    x.warpPointer(300, 300);

    // Tip at (100, 100): the inside of the arrow is white, beside it black.
    const Picture arrow = recordPointer(CursorSettings{}, "arrow");
    EXPECT_TRUE(colourIs(arrow, 103, 110, {255, 255, 255}, 40));
    EXPECT_TRUE(colourIs(arrow, 90, 110, {0, 0, 0}));
    EXPECT_TRUE(colourIs(arrow, 130, 130, {0, 0, 0}));

    // Half-transparent red over black, and no arrow.
    const Picture square = recordPointer(highlight(kHighlightRectangle, 0x0000FF, 50, 40), "square");
    EXPECT_TRUE(colourIs(square, 100, 100, {127, 0, 0}, 16));
    EXPECT_TRUE(colourIs(square, 85, 85, {127, 0, 0}, 16));
    EXPECT_TRUE(colourIs(square, 75, 100, {0, 0, 0}));
    EXPECT_TRUE(colourIs(square, 103, 110, {127, 0, 0}, 16));

    const Picture circle = recordPointer(highlight(kHighlightEllipse, 0x00FF00, 100, 40), "circle");
    EXPECT_TRUE(colourIs(circle, 100, 100, {0, 255, 0}, 16));
    EXPECT_TRUE(colourIs(circle, 81, 81, {0, 0, 0}, 16));   // the corner of the square is outside the circle
    x.destroy(bg);
}

TEST(Recording, PauseLeavesNoGapAndEachRunStartsWithAKeyframe) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x3030A0);
    CCaptureSession s;
    ASSERT_TRUE(prepare(s, areaSettings({0, 0, 320, 240}, 10)));
    const std::string file = outDir() + "/pause.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    recordFor(1500ms);
    ASSERT_TRUE(s.pause()) << s.lastError();
    EXPECT_EQ(s.state(), kStatePaused);
    const uint32_t atPause = s.recordedMilliseconds();
    EXPECT_NEAR(atPause, 1500, 150);
    EXPECT_FALSE(s.pause());
    EXPECT_EQ(s.lastError(), "Capture is not running");
    recordFor(2000ms);
    EXPECT_EQ(s.recordedMilliseconds(), atPause);
    ASSERT_TRUE(s.resume()) << s.lastError();
    EXPECT_FALSE(s.resume());
    EXPECT_EQ(s.lastError(), "Capture is not paused");
    recordFor(1500ms);
    EXPECT_NEAR(s.recordedMilliseconds(), 3000, 200);
    ASSERT_TRUE(s.stop());

    EXPECT_EQ(decodeErrors(file), "");
    // 3 s recorded at 10 fps: about 30 positions, not 50.
    EXPECT_NEAR(double(videoPositions(file)), 30.0, 3.0);
    const auto packets = videoPackets(file);
    ASSERT_FALSE(packets.empty());
    const int64_t resumedAt = int64_t(atPause) * 10 / 1000;
    bool sawResumeKey = false;
    for (const Packet& p : packets)
        if (p.pts >= resumedAt && p.pts <= resumedAt + 1 && p.key && p.size > 0) sawResumeKey = true;
    EXPECT_TRUE(packets.front().key);
    EXPECT_TRUE(sawResumeKey) << "no keyframe where the second run begins (position " << resumedAt << ")";
    for (size_t i = 1; i < packets.size(); ++i) EXPECT_GT(packets[i].pts, packets[i - 1].pts);
    x.destroy(bg);
}

TEST(Recording, LiveSessionWindowIsFollowedAndItsEndStopsTheThread) {
    XPainter x;
    const uint32_t bg = x.window(0, 0, 1280, 720, 0x000000);
    const uint32_t live = x.window(100, 100, 202, 150, 0xFF0000);
    ScreenSettings s;
    s.sourceKind = kSourceLiveSession;
    s.frameRate = 10;
    ASSERT_TRUE(applyLiveSessionGeometry(s, live));
    EXPECT_EQ(s.rect, (ScreenRect{100, 100, 304, 252}));   // rounded up to multiples of 4
    EXPECT_EQ(s.outputWidth, 204);
    EXPECT_EQ(uint32_t(s.liveWindow), live);

    MessageCounter notify;
    CCaptureSession session;
    ASSERT_TRUE(prepare(session, s));
    const std::string file = outDir() + "/live.avi";
    ASSERT_TRUE(session.start(file, &notify)) << session.lastError();
    recordFor(700ms);
    // A turn may come between the move and reading the clock: the move is in one of these positions.
    const int64_t movedFrom = int64_t(session.recordedMilliseconds()) * 10 / 1000;
    x.move(live, 700, 400);
    const int64_t movedAt = int64_t(session.recordedMilliseconds()) * 10 / 1000;
    recordFor(700ms);
    x.destroy(live);
    recordFor(700ms);
    EXPECT_EQ(notify.stops, 1);
    EXPECT_FALSE(session.worker()->threadRunning() && !session.worker()->counters().written.load());
    const uint64_t writtenAfterEnd = session.statistics().framesWritten;
    recordFor(400ms);
    EXPECT_EQ(session.statistics().framesWritten, writtenAfterEnd) << "the thread goes on after the window is gone";
    EXPECT_EQ(notify.stops, 1);
    ASSERT_TRUE(session.stop());
    EXPECT_EQ(decodeErrors(file), "");
    // The move is followed by the next position (later only when turns came late), and the
    // window is still what is recorded.
    const auto packets = videoPackets(file);
    int pictures = 0, afterMove = -1;
    for (const Packet& p : packets) {
        if (p.size == 0) continue;
        if (afterMove < 0 && p.pts >= movedFrom) afterMove = int(p.pts);
        ++pictures;
    }
    ASSERT_GE(pictures, 2);
    EXPECT_LE(afterMove, movedAt + 1 + int64_t(session.statistics().framesSkipped)) << "moved at " << movedAt;
    EXPECT_GT(afterMove, 0);
    const Picture late = decodePicture(file, pictures - 1, 204, 152);
    EXPECT_TRUE(colourIs(late, 100, 70, {255, 0, 0}));
    x.destroy(bg);
}

TEST(SessionFailures, MessagesAndStates) {
    CCaptureSession s;
    EXPECT_FALSE(s.start("/tmp/x.avi", nullptr));
    EXPECT_EQ(s.lastError(), "Please set capture setting");
    EXPECT_FALSE(s.stop());
    EXPECT_EQ(s.lastError(), "Capture is not paused or not stopped");
    EXPECT_FALSE(s.setSoundOption(3));
    EXPECT_EQ(s.lastError(), "Sound option is range out.");
    EXPECT_FALSE(s.setSoundOption(unsigned(-1)));
    EXPECT_EQ(s.state(), kStateIdle);

    ASSERT_TRUE(prepare(s, areaSettings({0, 0, 320, 240}, 8)));
    EXPECT_EQ(s.state(), kStateReady);
    const std::string missing = outDir() + "/no/such/folder/x.avi";
    EXPECT_FALSE(s.start(missing, nullptr));
    EXPECT_EQ(s.lastError(), "Could not create the file named " + missing);
    EXPECT_EQ(s.state(), kStateReady);

    const std::string file = outDir() + "/states.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    EXPECT_FALSE(s.setScreenSettings({}));
    EXPECT_EQ(s.lastError(), "Please stop capture.");
    EXPECT_FALSE(s.setSoundOption(1));
    EXPECT_EQ(s.lastError(), "Please stop capture.");
    s.togglePip();   // without a webcam size: nothing happens
    EXPECT_EQ(s.pipSettings().on, 0);
    recordFor(300ms);
    ASSERT_TRUE(s.pause());
    ASSERT_TRUE(s.stop());
    EXPECT_EQ(s.state(), kStateIdle);
    EXPECT_FALSE(s.start(file, nullptr));
    EXPECT_EQ(s.lastError(), "Please set capture setting");
    EXPECT_EQ(decodeErrors(file), "");
}

TEST(SessionFailures, BadStoredSettingsAreRefusedClearly) {
    struct Case {
        const char* what;
        ScreenSettings screen;
    };
    ScreenSettings ok = areaSettings({0, 0, 320, 240}, 8);
    ScreenSettings fps0 = ok, huge = ok, kind9 = ok, inverted = ok, odd = ok;
    fps0.frameRate = 0;
    huge.outputWidth = 100000;
    kind9.sourceKind = 9;
    inverted.rect = {400, 300, 100, 100};
    odd.outputWidth = 321;
    for (const Case& c : {Case{"fps 0", fps0}, Case{"100000 wide", huge}, Case{"kind 9", kind9},
                          Case{"inverted", inverted}, Case{"odd width", odd}}) {
        CCaptureSession s;
        ASSERT_TRUE(prepare(s, c.screen));
        EXPECT_FALSE(s.start(outDir() + "/bad.avi", nullptr)) << c.what;
        EXPECT_FALSE(s.lastError().empty()) << c.what;
        EXPECT_EQ(s.state(), kStateReady) << c.what;
    }
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
