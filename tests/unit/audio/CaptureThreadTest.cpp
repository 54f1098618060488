// The sound sources' thread logic with in-process devices: positions, the silence in front of
// late first data, pause, stop, failed writes, a device that dies, and the mixing path.

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "InProcessSound.h"
#include "audio/AudioRing.h"
#include "audio/SampleMixing.h"
#include "audio/SoundCapture.h"
#include "audio/SoundPlatform.h"
#include "audio/SystemSoundSource.h"
#include "audio/WaveInCapture.h"

using namespace torvane;
using namespace torvane::test;
using namespace std::chrono;

namespace {

class CaptureThreads : public ::testing::Test {
protected:
    void SetUp() override {
        detectSoundPlatform();
        saved_ = g_bVistaOrLater;
        g_bVistaOrLater = true;
    }
    void TearDown() override { g_bVistaOrLater = saved_; }
    std::vector<int16_t> joined(const std::vector<RecordingSink::Write>& w, int64_t* frames) {
        std::vector<int16_t> all;
        *frames = 0;
        for (const auto& x : w) {
            EXPECT_EQ(x.position, *frames) << "positions continue without gaps";
            *frames += x.samples;
            all.insert(all.end(), x.data.begin(), x.data.end());
        }
        return all;
    }
    // Writes to `out` on the recording clock that begins now (*t0), and starts.
    static bool startAt(CSoundCapture& c, RecordingSink& out, steady_clock::time_point* t0) {
        c.setAudioSink(&out);
        *t0 = steady_clock::now();
        c.setTimeOrigin(*t0);
        return c.start() == 0;
    }
    InProcessDevices dev;
    RecordingSink sink;
    bool saved_ = false;
};

}  // namespace

TEST_F(CaptureThreads, MicrophoneWritesWholeBlocksAtContinuingPositionsAndCoversTheRecording) {
    dev.mic.delayMs = 300;   // first data late: the track is padded with silence in front
    CSoundCapture c(1, 0, dev);
    ASSERT_EQ(c.recordingFormat().channels, 2);
    steady_clock::time_point t0;
    ASSERT_TRUE(startAt(c, sink, &t0));
    EXPECT_EQ(c.start(), 0);   // a second start opens nothing
    EXPECT_EQ(dev.mic.opens, 1);
    std::this_thread::sleep_until(t0 + milliseconds(1000));
    // A busy machine wakes this thread late: the recording lasts until the stop, whenever that is.
    const double length = duration<double>(steady_clock::now() - t0).count();
    c.stopSources();
    int64_t frames = 0;
    auto w = sink.take();
    auto all = joined(w, &frames);
    for (size_t i = 0; i + 1 < w.size(); ++i) EXPECT_EQ(w[i].samples, 4800);
    EXPECT_NEAR(double(frames) / 44100, length, 0.03);
    // Silence for the 300 ms the device took, then the ramp from frame 0.
    size_t pad = 0;
    while (pad < all.size() / 2 && all[2 * pad] == 0 && all[2 * pad + 2] == 0) ++pad;
    EXPECT_NEAR(double(pad) / 44100, 0.3, 0.012);
    EXPECT_EQ(all[2 * (pad + 100)], 100);
    EXPECT_EQ(c.lossReport(), "");
}

TEST_F(CaptureThreads, AFirstChunkThatArrivesLateIsPlacedWhereTheChunksAfterItSayItWasCaptured) {
    // The device dates its first chunk late; the chunks after it catch up at once. 60 ms is a
    // server's first batch; 460 ms the burst of a busy machine, which must not fix the start while
    // it is still draining (it did, 0.25 s late).
    for (int lateMs : {60, 460}) {
        SCOPED_TRACE(lateMs);
        InProcessDevices devices;
        RecordingSink out;
        devices.mic.delayMs = 300;
        devices.mic.firstLateMs = lateMs;
        CSoundCapture c(1, 0, devices);
        steady_clock::time_point t0;
        ASSERT_TRUE(startAt(c, out, &t0));
        std::this_thread::sleep_until(t0 + milliseconds(1500));
        c.stopSources(t0 + milliseconds(1500));
        int64_t frames = 0;
        auto all = joined(out.take(), &frames);
        EXPECT_NEAR(double(frames) / 44100, 1.5, 0.006);   // decisions go in 5 ms steps
        size_t pad = 0;
        while (pad < all.size() / 2 && all[2 * pad] == 0 && all[2 * pad + 2] == 0) ++pad;
        EXPECT_NEAR(double(pad) / 44100, 0.3, 0.015) << "taken at its word the first chunk would start at "
                                                     << 0.3 + lateMs / 1000.0 << " s";
        ASSERT_LT(2 * (pad + 100), all.size());
        EXPECT_EQ(all[2 * (pad + 100)], 100);
    }
}

TEST_F(CaptureThreads, ASourceThatHandsOverSecondsAtOnceIsPlacedFromItsOpening) {
    // Two seconds at the first read, then ahead by that much: the arrivals alone would put the
    // start 2 s before the device was opened, and its first 2 s before the recording began.
    dev.mic.aheadMs = 2000;
    CSoundCapture c(1, 0, dev);
    steady_clock::time_point t0;
    ASSERT_TRUE(startAt(c, sink, &t0));
    std::this_thread::sleep_until(t0 + milliseconds(1000));
    c.stopSources(t0 + milliseconds(1000));
    int64_t frames = 0;
    auto all = joined(sink.take(), &frames);
    EXPECT_NEAR(double(frames) / 44100, 1.0, 0.006);
    ASSERT_GT(all.size(), size_t(2 * 4410));
    // The ramp counts the device's frames: at 0.1 s it holds the frame captured 0.1 s after opening.
    EXPECT_NEAR(all[2 * 4410], 4410, 0.015 * 44100);
    EXPECT_EQ(c.lossReport(), "");
}

TEST_F(CaptureThreads, PauseDiscardsWhatArrivesAndPositionsContinue) {
    CSoundCapture c(1, 0, dev);
    steady_clock::time_point t0;
    ASSERT_TRUE(startAt(c, sink, &t0));
    // The moments of the calls, as this thread may wake late on a busy machine.
    auto since = [&] { return duration<double>(steady_clock::now() - t0).count(); };
    std::this_thread::sleep_until(t0 + milliseconds(500));
    const double pausedAt = since();
    EXPECT_EQ(c.pause(), 0);
    std::this_thread::sleep_until(t0 + milliseconds(1000));
    const double resumedAt = since();
    EXPECT_EQ(c.resume(), 0);
    std::this_thread::sleep_until(t0 + milliseconds(1500));
    const double stoppedAt = since();
    c.stopSources();
    EXPECT_EQ(dev.mic.opens, 1);   // never closed meanwhile
    int64_t frames = 0;
    auto all = joined(sink.take(), &frames);
    EXPECT_NEAR(double(frames) / 44100, stoppedAt - (resumedAt - pausedAt), 0.03);
    // The ramp (frame numbers mod 32768) jumps once by about the length of the pause.
    int jumps = 0, jump = 0;
    for (size_t i = 2; i < all.size(); i += 2) {
        int d = (all[i] - all[i - 2] + 32768) % 32768;
        if (d != 1 && all[i - 2] != 0) {
            ++jumps;
            jump = d;
        }
    }
    EXPECT_EQ(jumps, 1);
    EXPECT_NEAR(jump / 44100.0, resumedAt - pausedAt, 0.03);
}

TEST_F(CaptureThreads, PauseResumeAndStopTakeEffectFromTheGivenMoment) {
    // As the session does it: the moments of the video's pause, resume and stop, passed late.
    CSoundCapture c(1, 0, dev);
    steady_clock::time_point t0;
    ASSERT_TRUE(startAt(c, sink, &t0));
    std::this_thread::sleep_until(t0 + milliseconds(500));
    c.pause(t0 + milliseconds(400));
    std::this_thread::sleep_until(t0 + milliseconds(1100));
    c.resume(t0 + milliseconds(1000));
    std::this_thread::sleep_until(t0 + milliseconds(1700));
    c.stopSources(t0 + milliseconds(1500));
    int64_t frames = 0;
    auto all = joined(sink.take(), &frames);
    EXPECT_NEAR(double(frames) / 44100, 0.9, 0.012);   // 0.4 s + 0.5 s
    int jumps = 0, jump = 0;
    for (size_t i = 2; i < all.size(); i += 2) {
        int d = (all[i] - all[i - 2] + 32768) % 32768;
        if (d != 1 && all[i - 2] != 0) {
            ++jumps;
            jump = d;
        }
    }
    EXPECT_EQ(jumps, 1);
    EXPECT_NEAR(jump / 44100.0, 0.6, 0.012);
}

// The session's stop: the sound is held from the stop's moment, the video takes a second to
// finish, and only then is the track's end (the video's) given. Alone, and in "Both" with a
// microphone that stopped delivering, whose thread waits out its grace before the system sound's
// stop is even asked: neither writes past the end meanwhile.
TEST_F(CaptureThreads, SoundHeldAtTheStopEndsAtTheVideosEndHoweverLateThatIsGiven) {
    for (int option : {0, 2}) {
        SCOPED_TRACE(option);
        InProcessDevices d;
        RecordingSink out;
        if (option == 2) d.mic.stalls = {{1200, 60000}};
        CSoundCapture c(1, option, d);
        steady_clock::time_point t0;
        ASSERT_TRUE(startAt(c, out, &t0));
        std::this_thread::sleep_until(t0 + milliseconds(1500));
        c.holdFrom(t0 + milliseconds(1500));
        std::this_thread::sleep_until(t0 + milliseconds(2500));
        const int64_t end = 44100 * 3 / 2 - 441;   // the video ended 10 ms before the stop
        c.stopSources(steady_clock::now(), end);
        int64_t frames = 0;
        joined(out.take(), &frames);
        EXPECT_EQ(frames, end);
        // What the microphone owed and never delivered is missing, not quiet.
        EXPECT_EQ(c.lossReport().find("The microphone lost") != std::string::npos, option == 2) << c.lossReport();
    }
}

// A microphone that stops delivering without an error (a server that stopped feeding it), or never
// delivers at all: the track still covers the recording, and the silence is reported as missing
// sound from where the microphone stopped, not passed off as quiet.
TEST_F(CaptureThreads, AMicrophoneThatFallsSilentWithoutFailingIsReportedAsMissingSound) {
    for (int silentFromMs : {1000, 0}) {
        SCOPED_TRACE(silentFromMs);
        InProcessDevices d;
        RecordingSink out;
        if (silentFromMs > 0) d.mic.stalls = {{silentFromMs, 60000}};
        else d.mic.delayMs = 60000;
        CSoundCapture c(1, 0, d);
        steady_clock::time_point t0;
        ASSERT_TRUE(startAt(c, out, &t0));
        std::this_thread::sleep_until(t0 + milliseconds(2000));
        c.stopSources(t0 + milliseconds(2000));
        int64_t frames = 0;
        joined(out.take(), &frames);
        EXPECT_NEAR(double(frames) / 44100, 2.0, 0.03);
        int64_t missingMs = 0, fromMs = 0;
        EXPECT_EQ(c.microphoneSource()->soundGaps(&missingMs, &fromMs), 1);
        EXPECT_NEAR(double(fromMs), silentFromMs, 40);
        EXPECT_NEAR(double(missingMs), 2000 - silentFromMs, 40);
        const std::string at = silentFromMs > 0 ? "the first at 00:00:01" : "the first at 00:00:00";
        EXPECT_NE(c.lossReport().find("The microphone lost"), std::string::npos) << c.lossReport();
        EXPECT_NE(c.lossReport().find(at), std::string::npos) << c.lossReport();
    }
}

TEST_F(CaptureThreads, FailedWritesAreCountedAndTheSourceGivesUpAfterAllBlocks) {
    sink.failing = true;
    dev.mic.delayMs = 0;
    CSoundCapture c(1, 0, dev);
    c.setAudioSink(&sink);
    ASSERT_EQ(c.start(), 0);
    // 32 blocks of 108.8 ms fail within about 3.5 s; after that nothing more is tried.
    std::this_thread::sleep_for(milliseconds(4000));
    int attempts = sink.attempts;
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(sink.attempts, attempts);
    c.stopSources();
    EXPECT_EQ(attempts, 32);
    EXPECT_EQ(c.lossReport(), "32 audio blocks could not be written to the file.");
}

TEST_F(CaptureThreads, ADeviceThatDiesIsReportedWithItsTime) {
    // Dying while it delivers, and before it ever delivered (a server gone early): either way the
    // track reaches the moment of the loss, in silence where the device gave nothing.
    for (int delayMs : {0, 5000}) {
        SCOPED_TRACE(delayMs);
        InProcessDevices devices;
        RecordingSink out;
        devices.loop.delayMs = delayMs;
        CSoundCapture c(1, 1, devices);
        steady_clock::time_point t0;
        ASSERT_TRUE(startAt(c, out, &t0));
        std::this_thread::sleep_until(t0 + milliseconds(1200));
        const double failedAt = duration<double>(steady_clock::now() - t0).count();
        devices.loop.fail = true;
        std::this_thread::sleep_until(t0 + milliseconds(1500));
        auto before = steady_clock::now();
        c.stopSources();
        EXPECT_LT(steady_clock::now() - before, milliseconds(300));
        std::string loss = c.lossReport();
        EXPECT_NE(loss.find("at 00:00:01"), std::string::npos) << loss;
        EXPECT_NE(loss.find("the sound after that is missing"), std::string::npos) << loss;
        int64_t frames = 0;
        joined(out.take(), &frames);
        // The device notices within a read (50 ms); what it held back is written.
        EXPECT_GT(double(frames) / 44100, failedAt - 0.25);
        EXPECT_LT(double(frames) / 44100, failedAt + 0.3);
    }
}

TEST_F(CaptureThreads, BothMixesTheRingIntoTheSystemSoundAndOnlyTheLoopbackWrites) {
    dev.mic.constant = 30000;
    dev.loop.constant = 30000;
    dev.loop.delayMs = 200;   // the microphone starts first and fills the ring
    CSoundCapture c(1, 2, dev);
    ASSERT_NE(c.mixingRing(), nullptr);
    EXPECT_EQ(c.mixingRing()->capacity(), 20 * 176400);
    EXPECT_EQ(c.microphoneSource()->format().channels, 2);   // inherited from the loopback
    steady_clock::time_point t0;
    ASSERT_TRUE(startAt(c, sink, &t0));
    std::this_thread::sleep_until(t0 + milliseconds(1000));
    c.stopSources();
    int64_t frames = 0;
    auto all = joined(sink.take(), &frames);
    EXPECT_NEAR(double(frames) / 44100, 1.0, 0.03);
    EXPECT_GT(c.microphoneSource()->position(), 0);
    // Once the loopback delivers, its packets are mixed with the microphone: 30000 + 30000.
    size_t mixed = 0;
    for (int16_t s : all) mixed += s == mixSample(30000, 30000);
    EXPECT_GT(double(mixed) / 2 / 44100, 0.5);
}

// "Both" with a microphone that stalls twice for 0.3 s and then hands over what it owes at once:
// each of its frames is mixed at its own position, so its ramp runs on unbroken through the mix
// (a frame number a position); with a pause, the ramp jumps once, where the pause was.
TEST_F(CaptureThreads, BothMixesAStallingMicrophoneAtItsOwnPositions) {
    for (bool pause : {false, true}) {
        SCOPED_TRACE(pause ? "with a pause" : "without a pause");
        InProcessDevices d;
        RecordingSink out;
        d.mic.stalls = {{600, 300}, {1300, 300}};
        d.loop.constant = 1;   // the system sound adds one to every sample
        CSoundCapture c(1, 2, d);
        steady_clock::time_point t0;
        ASSERT_TRUE(startAt(c, out, &t0));
        if (pause) {
            std::this_thread::sleep_until(t0 + milliseconds(1000));
            c.pause();
            std::this_thread::sleep_until(t0 + milliseconds(1400));
            c.resume();
        }
        std::this_thread::sleep_until(t0 + milliseconds(2500));
        c.stopSources();
        int64_t frames = 0;
        const std::vector<int16_t> all = joined(out.take(), &frames);
        EXPECT_EQ(c.lossReport().find("lagged"), std::string::npos) << c.lossReport();
        // Left channel; from where the microphone's ramp begins (after its silence in front).
        std::vector<int> left;
        for (size_t i = 0; i < all.size(); i += 2) left.push_back(all[i]);
        size_t begin = 0;
        while (begin < left.size() && left[begin] <= 1) ++begin;
        ASSERT_LT(begin, size_t(44100 / 2)) << "the microphone is missing from the mix's first half second";
        // From 50 ms after the ramp begins (its first 10 ms chunks, where its start is still being
        // settled: a slow machine moves it by a frame as late as the third) to 50 ms before the end
        // (where the microphone's last block may end first).
        int jumps = 0, holes = 0;
        std::string firstJump;
        for (size_t i = begin + 2205; i + 2205 < left.size(); ++i) {
            if (left[i] == 1) {
                // The microphone missing: a run of the system sound alone (the ramp's own wrap to 0
                // is one sample).
                holes += left[i - 1] == 1 && left[i - 2] != 1;
                continue;
            }
            // Sums above the knee are compressed: only the exact part of the ramp is compared.
            if (left[i - 1] >= 16384 || left[i] >= 16384 || left[i - 1] == 1) continue;
            if (left[i] != left[i - 1] + 1 && jumps++ == 0)
                firstJump = "at " + std::to_string(double(i - begin) / 44100) + " s of the ramp, " +
                            std::to_string(left[i - 1]) + " then " + std::to_string(left[i]);
        }
        EXPECT_EQ(holes, 0) << "the microphone's sound has holes in the mix";
        EXPECT_LE(jumps, pause ? 1 : 0) << "the microphone's sound moved in the mix " << firstJump << "; " << c.lossReport();
        EXPECT_NEAR(double(frames) / 44100, pause ? 2.1 : 2.5, 0.05);
    }
}

TEST_F(CaptureThreads, OptionOutsideTheRangeStartsNothing) {
    CSoundCapture c(1, 3, dev);
    c.setAudioSink(&sink);
    EXPECT_EQ(c.start(), 0);
    EXPECT_EQ(c.microphoneSource(), nullptr);
    EXPECT_EQ(c.systemSoundSource(), nullptr);
    EXPECT_EQ(dev.mic.opens + dev.loop.opens, 0);
}

TEST_F(CaptureThreads, WithoutServerSystemSoundComesFromTheInputAndBothIsOneSource) {
    g_bVistaOrLater = false;
    CSoundCapture c(1, 2, dev);
    EXPECT_EQ(c.systemSoundSource(), nullptr);
    EXPECT_EQ(c.mixingRing(), nullptr);
    ASSERT_NE(c.microphoneSource(), nullptr);
    CSoundCapture s(1, 1, dev);
    ASSERT_NE(s.systemSoundSource(), nullptr);
    EXPECT_EQ(s.systemSoundSource()->loopback(), nullptr);
    EXPECT_NE(s.systemSoundSource()->waveIn(), nullptr);
    EXPECT_EQ(s.recordingFormat().extraSize, 18);   // chosen from the input's capabilities
}

TEST_F(CaptureThreads, AFastMicrophoneIsStretchedSoItsSoundStaysOnTheTimeLine) {
    // 0.5 % fast: uncorrected, the frame written 9 s in would be the device's frame from 9 s
    // of its own count, 45 ms of sound behind what was captured then.
    dev.mic.ppm = 5000;
    CSoundCapture c(1, 0, dev);
    steady_clock::time_point t0;
    ASSERT_TRUE(startAt(c, sink, &t0));
    std::this_thread::sleep_until(t0 + milliseconds(9000));
    c.stopSources();
    int64_t frames = 0;
    auto all = joined(sink.take(), &frames);
    ASSERT_GT(frames, 44100 * 8);
    size_t pad = 0;
    while (pad < all.size() / 2 && all[2 * pad] == 0 && all[2 * pad + 2] == 0) ++pad;
    // Near the end, away from the ramp's wrap, which device frame a written frame holds.
    int64_t ahead = -1, at = 0;
    for (int64_t j = frames - 2000; j > frames - 40000 && ahead < 0; --j) {
        const int v = all[size_t(2 * j)];
        if (v < 1000 || v > 31000 || all[size_t(2 * j + 2)] - v != 1 || v - all[size_t(2 * j - 2)] != 1) continue;
        ahead = ((v - (j - int64_t(pad))) % 32768 + 32768) % 32768;
        at = j - int64_t(pad);
    }
    ASSERT_GE(ahead, 0);
    // Uncorrected it holds frame j itself; the correction starts once the drift is known (some 4 s
    // in) and settles over seconds, so by 9 s most of the 0.5 % is made up and none overshot.
    EXPECT_GT(double(ahead), double(at) * 0.005 * 0.5) << "device frames ahead of the written count";
    EXPECT_LT(double(ahead), double(at) * 0.005 * 1.2) << "device frames ahead of the written count";
    const std::string report = c.clockReport();
    double ppm = 0;
    ASSERT_EQ(std::sscanf(report.c_str(), "The microphone's clock ran %lf ppm fast", &ppm), 1) << report;
    EXPECT_NEAR(ppm, 5000, 300);
    EXPECT_EQ(c.lossReport(), "");
}

TEST_F(CaptureThreads, BothSourcesOfAMixAreMeasuredEachOnItsOwn) {
    dev.mic.ppm = 5000;
    dev.loop.ppm = -5000;
    CSoundCapture c(1, 2, dev);
    steady_clock::time_point t0;
    ASSERT_TRUE(startAt(c, sink, &t0));
    std::this_thread::sleep_until(t0 + milliseconds(7000));
    c.stopSources();
    const std::string report = c.clockReport();
    double mic = 0, loop = 0;
    const size_t second = report.find("The system sound source's");
    ASSERT_NE(second, std::string::npos) << report;
    ASSERT_EQ(std::sscanf(report.c_str(), "The microphone's clock ran %lf ppm fast", &mic), 1) << report;
    ASSERT_EQ(std::sscanf(report.c_str() + second, "The system sound source's clock ran %lf ppm slow", &loop), 1)
        << report;
    EXPECT_NEAR(mic, 5000, 400);
    EXPECT_NEAR(loop, 5000, 400);
}
