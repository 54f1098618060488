// Keeping pace: a recording whose turns cost more than a frame period at the encoder's normal
// settings must go to faster ones, fill more positions, and come back to the normal settings once
// the turns are cheap again. The cost is played by a screen in this process whose pictures take
// long to read while the encoder is at its normal settings, as a big screen's pictures take long to
// encode on a slow machine.
#include <gtest/gtest.h>

#include <QPainter>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "MediaProbe.h"
#include "engine/CaptureRun.h"
#include "engine/H264Encoder.h"
#include "engine/RecordingFile.h"
#include "platform/core/Clock.h"
#include "platform/media/MediaWriter.h"
#include "platform/screen/ScreenSource.h"

using namespace torvane;
using namespace std::chrono_literals;

namespace {

constexpr int kW = 320, kH = 240, kRate = 15;

// A screen that changes at every grab. While `slow` is set, a grab at the encoder's normal speed
// takes 1.5 frame periods; otherwise 5 ms.
class CostlyScreen final : public IScreenSource {
public:
    CostlyScreen() : picture_(kW, kH, QImage::Format_RGB32) {}
    std::atomic<bool> slow{true};
    std::shared_ptr<CH264Encoder> encoder;   // read on the capture thread only

    bool grab(int, int) override {
        const bool costly = slow.load() && encoder->speed() == 0;
        std::this_thread::sleep_for(costly ? std::chrono::milliseconds(1500 / kRate) : 5ms);
        ++grabs_;
        picture_.fill(QColor::fromHsv(int(grabs_ * 37 % 360), 200, 200));
        QPainter(&picture_).fillRect(int(grabs_ * 7 % kW), 40, 60, 60, Qt::white);
        return true;
    }
    QImage& picture() override { return picture_; }
    bool changedSince(int, int) override { return true; }
    bool pointer(int& x, int& y) override {
        x = y = 0;
        return false;
    }
    ScreenRect desktopRect() const override { return {0, 0, kW, kH}; }
    const std::string& lastError() const override { return error_; }

private:
    QImage picture_;
    uint64_t grabs_ = 0;
    std::string error_;
};

// Positions decided (a picture or a late one) and late ones, between two looks at the counters.
struct Tally {
    uint64_t late = 0, decided = 0;
};
Tally tallyOver(const CaptureCounters& c, std::chrono::milliseconds span) {
    const uint64_t late0 = c.skipped.load();
    const int64_t turn0 = c.lastTurn.load();
    std::this_thread::sleep_for(span);
    return {c.skipped.load() - late0, uint64_t(c.lastTurn.load() - turn0)};
}

}  // namespace

TEST(KeepPace, ASlowEncoderGoesFasterFillsMorePositionsAndComesBack) {
    const char* dir = std::getenv("TORVANE_TEST_ENV");
    const std::string file = std::string(dir ? dir : "/tmp") + "/keep-pace-" + std::to_string(getpid()) + ".avi";
    std::string error;
    std::shared_ptr<media::IMediaWriter> writer = createRecordingFile(file, &error);
    ASSERT_TRUE(writer) << error;
    auto run = std::make_shared<CaptureRun>();
    run->settings.screen.sourceKind = kSourceArea;
    run->settings.screen.rect = {0, 0, kW, kH};
    run->settings.screen.frameRate = kRate;
    run->settings.cursor.captureCursor = 0;
    run->frameRate = kRate;
    run->outWidth = kW;
    run->outHeight = kH;
    run->stream = writer->addVideo({kW, kH, kRate});
    run->file = writer;
    run->encoder = CH264Encoder::open({kW, kH, kRate, 0}, &error);
    ASSERT_TRUE(run->stream && run->encoder) << error;
    auto screen = std::make_shared<CostlyScreen>();
    screen->encoder = run->encoder;
    run->screen = screen;
    run->counters = std::make_shared<CaptureCounters>();
    run->segmentStart = tickMilliseconds();
    std::thread loop([run] { runCaptureLoop(run); });
    const CaptureCounters& c = *run->counters;

    // At the normal settings a third of the positions come late.
    const Tally slowStart = tallyOver(c, 1500ms);
    // Judged over two seconds, the encoder goes faster; then hardly anything is late (a busy
    // machine may hold the loop up now and then).
    std::this_thread::sleep_for(2500ms);
    const uint64_t steps = c.fasterSteps.load();
    const Tally faster = tallyOver(c, 2000ms);

    // Cheap turns at any speed: back to the normal settings after five seconds of room.
    screen->slow.store(false);
    std::this_thread::sleep_for(9000ms);
    run->running.store(false);
    run->stopEvent.set();
    loop.join();
    writer->releaseTrack(run->stream);
    ASSERT_TRUE(writer->finish()) << writer->lastError();

    EXPECT_GE(slowStart.late * 5, slowStart.decided) << slowStart.late << " of " << slowStart.decided;
    EXPECT_GE(steps, 1u);
    EXPECT_LE(faster.late * 10, faster.decided) << faster.late << " of " << faster.decided;
    EXPECT_GE(faster.decided, 25u);
    EXPECT_GT(c.fasterPictures.load(), 25u);
    EXPECT_EQ(run->encoder->speed(), 0) << "still at a faster step after nine seconds of room";
    EXPECT_EQ(c.fasterSteps.load(), steps) << "went faster again with room to spare";
    // One stream across the changes of settings, read whole.
    EXPECT_EQ(decodeErrors(file), "");
    EXPECT_EQ(videoPositions(file), c.lastPosition.load() + 1);
    std::remove(file.c_str());
}
