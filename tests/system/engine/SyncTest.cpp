// Sound and picture of one recording line up: a colour change and a tone heard at the same
// moment arrive in the file within one video frame of each other; the two tracks end together.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "AudioFileCheck.h"
#include "ServerClockWatch.h"
#include "TonePlayer.h"
#include "Losses.h"
#include "MediaProbe.h"
#include "XPainter.h"
#include "engine/CaptureSession.h"
#include "settings/CaptureRules.h"

using namespace torvane;
using namespace std::chrono_literals;

namespace {

constexpr int kFps = 30;

std::string outDir() {
    const char* d = std::getenv("TORVANE_TEST_ENV");
    return d ? d : "/tmp";
}

ScreenSettings area() {
    ScreenSettings s;
    s.sourceKind = kSourceArea;
    s.rect = {0, 0, 320, 240};
    s.frameRate = kFps;
    applyOutputSize(s);
    return s;
}

bool prepare(CCaptureSession& s, int option) {
    CursorSettings noCursor;
    noCursor.captureCursor = 0;
    return s.setScreenSettings(area()) && s.setSoundEnabled(1) && s.setSoundOption(unsigned(option)) &&
           s.setCursorSettings(noCursor) && s.setWebcamSettings({}) && s.setPipSettings({}) &&
           s.setWatermarkSettings({});
}

void waitRecorded(const CCaptureSession& s, uint32_t ms) {
    while (s.recordedMilliseconds() < ms) std::this_thread::sleep_for(1ms);
}

double streamDuration(const std::string& file, const char* stream) {
    double d = -1;
    const std::string out = runCommand("ffprobe -v error -select_streams " + std::string(stream) +
                                       " -count_packets -show_entries stream=duration -of csv=p=0 '" + file + "'");
    std::sscanf(out.c_str(), "%lf", &d);
    return d;
}

// The sound from the start of the time line. An MP4 file's sound begins with the AAC encoder's
// start-up frame, placed before 0 (its edit list says so): decoded by its times, it is left out.
std::vector<int16_t> decodeSound(const std::string& file) {
    if (!isMp4(file)) return test::decodeMono(file);
    const std::string raw = runCommand("ffmpeg -v error -copyts -i '" + file +
                                       "' -map 0:a -af atrim=start=0,asetpts=PTS-STARTPTS -ac 1 -ar 44100 -f s16le -");
    std::vector<int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
}

// Where the sound track ends, in seconds. AAC decodes to whole frames of 1024 samples; the
// container gives the real end (each frame's own length, from the start-up frame before 0).
double soundEnd(const std::string& file) {
    if (!isMp4(file)) return double(test::decodeMono(file).size()) / 44100;
    double start = 0, duration = -1;
    std::sscanf(runCommand("ffprobe -v error -select_streams a:0 -show_entries stream=start_time,duration -of csv=p=0 '" +
                           file + "'").c_str(), "%lf,%lf", &start, &duration);
    return start + duration;
}

}  // namespace

TEST(Sync, ColourChangeAndToneOnsetWithinOneFrame) {
    XPainter x;
    const uint32_t w = x.window(0, 0, 320, 240, 0x000000);
    MovingSquare square;
    CCaptureSession s;
    ASSERT_TRUE(prepare(s, kSoundSystem));
    const std::string file = outDir() + "/sync" + testExtension();
    test::ServerClockWatch watch("torvane_sink.monitor");
    ASSERT_TRUE(watch.ok()) << watch.error();
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    // Connected ahead of the tone, as an application with sound is, and after the recording's own
    // streams: the picture changes when the tone is heard.
    test::TonePlayer player;
    ASSERT_TRUE(player.ok()) << player.error();
    // A null sink that slept renders late at first: change after it has woken.
    waitRecorded(s, 2700);
    const auto heard = player.play(1000, 0.5);
    ASSERT_NE(heard, test::TonePlayer::Clock::time_point());
    std::this_thread::sleep_until(heard);
    // On the recording's own clock: the server has drawn it when the call returns.
    const double setFrom = s.recordedMilliseconds() / 1000.0;
    x.setColour(w, 0xFFFFFF);
    const double setUntil = (s.recordedMilliseconds() + 1) / 1000.0;
    waitRecorded(s, 4000);
    ASSERT_TRUE(s.stop());
    EXPECT_EQ(lossesBesidesLate(s.lossReport()), "");
    // A server starved of the processor that skipped cycles of its clock (PipeWire's graph does)
    // lacks that stretch in every stream; shorter than a loss the recording can tell from
    // lateness, it moves the tone by as much.
    const double serverLostMs = watch.stopAndTellLostMs();
    ASSERT_GE(serverLostMs, 0) << "the server's clock could not be watched";
    const double slack = 1.0 / kFps + serverLostMs / 1000.0;
    // The colour changed when the player's figure said the tone is heard. A starved server may drop
    // or hurry through what the player queued, and the tone is then heard elsewhere: the sink's
    // monitor, read on a connection of its own, tells where; more than 20 ms away, the tone is
    // expected that much away from the change.
    const double inMonitor = test::toneOnset(watch.samples(), 44100, 1000, 5800) + 0.005;
    ASSERT_GT(inMonitor, 0) << "the monitor did not hear the tone";
    const auto monitorHeard = watch.heardAt(inMonitor);
    ASSERT_NE(monitorHeard, test::ServerClockWatch::Clock::time_point()) << "the monitor did not read on after the tone";
    double moved = std::chrono::duration<double>(monitorHeard - heard).count();
    if (std::abs(moved) <= 0.020) moved = 0;

    // The first picture that shows the new colour.
    const auto packets = videoPackets(file);
    double changeAt = -1;
    int64_t gap = 1;   // positions since the picture before it: a late turn sees the change later
    int index = 0;
    int64_t previous = -1;
    for (const Packet& p : packets) {
        if (p.size == 0) continue;
        if (p.pts >= 2400 * kFps / 1000) {
            const Picture pic = decodePicture(file, index, 320, 240);
            if (pic.rgb.size() >= 320 * 240 * 3 && pic.at(160, 120)[0] > 200) {
                changeAt = double(p.pts) / kFps;
                gap = previous >= 0 ? p.pts - previous : 1;
                break;
            }
        }
        previous = p.pts;
        ++index;
    }
    ASSERT_GT(changeAt, 0) << "the colour change is not in the video";

    const std::vector<int16_t> sound = decodeSound(file);
    ASSERT_FALSE(sound.empty());
    const double onset = test::toneOnset(sound, 44100, 1000, 5800) + 0.005;
    ASSERT_GT(onset, 0) << "the tone is not in the sound track";
    std::printf("colour set at %.3f-%.3f s, video change at %.3f s (%ld positions after the picture before), "
                "tone onset at %.3f s; the server's clock lost %.1f ms; the monitor heard the tone %.1f ms from the "
                "player's figure\n",
                setFrom, setUntil, changeAt, long(gap), onset, serverLostMs,
                std::chrono::duration<double, std::milli>(monitorHeard - heard).count());
    // The tone is where the change was made, within one frame period.
    EXPECT_GT(onset, setFrom + moved - slack);
    EXPECT_LT(onset, setUntil + moved + slack);
    // The first picture taken after the change shows it: one frame period late at most, more only
    // when a busy machine made turns late and positions stayed empty; a turn taken late within its
    // period may show it at the position before.
    EXPECT_GE(changeAt, setFrom - 1.0 / kFps);
    EXPECT_LE(changeAt, setUntil + double(gap) / kFps + 0.005);
    x.destroy(w);
}

TEST(Sync, SoundAndPictureTracksEndTogether) {
    XPainter x;
    const uint32_t w = x.window(0, 0, 320, 240, 0x406080);
    CCaptureSession s;
    ASSERT_TRUE(prepare(s, kSoundBoth));
    const std::string file = outDir() + "/lengths" + testExtension();
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    waitRecorded(s, 3000);
    ASSERT_TRUE(s.pause());
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(s.resume());
    waitRecorded(s, 8000);
    ASSERT_TRUE(s.stop());
    // A server starved of the processor skips cycles of its clock, and both sources lack that
    // stretch from the same moment: the recording fills and reports it. Nothing else may be lost.
    if (serverStallMs(s.lossReport()) == 0) {
        EXPECT_EQ(lossesBesidesLate(s.lossReport()), "");
    }
    EXPECT_EQ(decodeErrors(file), "");
    const double video = streamDuration(file, "v:0"), audio = soundEnd(file);
    std::printf("video %.3f s, sound %.3f s\n", video, audio);
    EXPECT_NEAR(video, 8.0, 0.1);
    // The sound ends where the video's last frame period does, the pause notwithstanding.
    EXPECT_LT(std::abs(video - audio), 0.020);
    x.destroy(w);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
