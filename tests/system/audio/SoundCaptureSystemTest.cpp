// Recordings with sound on the private sound server (null sink as output, 440 Hz sine source as
// microphone), written through the real AVI writer and checked with ffprobe/ffmpeg.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "AudioFileCheck.h"
#include "ReportSentences.h"
#include "ServerClockWatch.h"
#include "TonePlayer.h"
#include "audio/AudioRing.h"
#include "audio/SoundCapture.h"
#include "audio/SoundPlatform.h"

extern char** environ;

using namespace torvane;
using namespace torvane::test;
using Clock = std::chrono::steady_clock;

namespace {

void sleepUntil(Clock::time_point t) { std::this_thread::sleep_until(t); }
Clock::time_point at(Clock::time_point t0, double s) {
    return t0 + std::chrono::microseconds(int64_t(s * 1e6));
}

struct Recorded {
    WaveFormat format{};
    Probe probe;
    std::vector<int16_t> samples;
    std::string loss;
    Clock::time_point t0;
    // The sink's monitor and, when recorded, the microphone, each read on a connection of its own
    // while recording (stopped).
    std::shared_ptr<ServerClockWatch> monitor, mic;
    // How much the server's clock lost while recording; -1 when it could not be watched. The test
    // microphone's own chain (a player, a sink and a remapped source) can lose sound besides on a
    // starved server: micLostMs.
    double serverLostMs = -1, micLostMs = -1;
    double seconds() const { return format.samplesPerSec ? double(samples.size()) / format.samplesPerSec : 0; }
};

// Records with `option`, runs `script(capture, t0)` on this thread while recording, then stops
// the way the session does, effective `seconds` after the start (a busy machine may run the script
// late; the video's stop moment is passed the same way), and checks the file.
Recorded record(const std::string& name, int option, double seconds,
                const std::function<void(CSoundCapture&, Clock::time_point)>& script) {
    Recorded r;
    std::string path = testDir() + "/" + name + ".avi";
    CSoundCapture capture(1, option);
    r.format = capture.recordingFormat();
    AudioAvi avi = createAudioAvi(path, r.format);
    EXPECT_NE(avi.stream, nullptr);
    if (!avi.stream) return r;
    capture.setAudioStream(avi.stream);
    r.monitor = std::make_shared<ServerClockWatch>("torvane_sink.monitor");
    EXPECT_TRUE(r.monitor->ok()) << r.monitor->error();
    // PulseAudio's test microphone is a generator inside the server, which loses nothing (and a
    // second reader of it from the start makes it hand the recording silence first).
    const char* server = std::getenv("TORVANE_SOUND_SERVER");
    if (option != 1 && server && std::string(server) == "pipewire") {
        r.mic = std::make_shared<ServerClockWatch>("torvane_sine");
        EXPECT_TRUE(r.mic->ok()) << r.mic->error();
    }
    const Clock::time_point t0 = r.t0 = Clock::now();
    capture.setTimeOrigin(t0);
    EXPECT_EQ(capture.start(), 0) << capture.lastError();
    script(capture, t0);
    capture.stopSources(at(t0, seconds));
    r.serverLostMs = r.monitor->stopAndTellLostMs();
    if (r.mic) r.micLostMs = r.mic->stopAndTellLostMs();
    r.loss = capture.lossReport();
    avi.file->releaseTrack(avi.stream);
    EXPECT_TRUE(avi.file->finish()) << avi.file->lastError();
    r.probe = probeAudio(path);
    r.samples = decodeMono(path);
    return r;
}

size_t sec(const Recorded& r, double s) { return size_t(s * r.format.samplesPerSec); }

double since(Clock::time_point t0, Clock::time_point t) { return std::chrono::duration<double>(t - t0).count(); }

// Checks that a tone's onset in the recording lies where it was heard, within one video frame at
// 30 fps. The player's figure tells where. A server starved of the processor may drop or hurry
// through what the player queued, which moves the tone against that figure and is not the
// recording's doing; the sink's monitor, read on a connection of its own, shows it: when the
// monitor heard the tone more than 20 ms away from the figure, the monitor is the reference. A
// server that skipped cycles of its clock (PipeWire's graph does) lacks that stretch in every
// stream, and moves the tone by as much besides. `onsetInMonitor`: the onset in the monitor's
// samples, in seconds.
void expectHeardWhereRecorded(const Recorded& r, double onset, double byPlayer, double onsetInMonitor) {
    ASSERT_GE(r.serverLostMs, 0) << "the server's clock could not be watched";
    ASSERT_GT(onsetInMonitor, 0) << "the monitor did not hear the tone";
    const Clock::time_point heard = r.monitor->heardAt(onsetInMonitor);
    ASSERT_NE(heard, Clock::time_point()) << "the monitor did not read on after the tone";
    const double byMonitor = since(r.t0, heard);
    const bool disturbed = std::abs(byMonitor - byPlayer) > 0.020;
    std::printf("onset error %.1f ms against the player's figure, %.1f ms against the monitor; the server's clock "
                "lost %.1f ms\n",
                (onset - byPlayer) * 1000, (onset - byMonitor) * 1000, r.serverLostMs);
    EXPECT_NEAR(onset, disturbed ? byMonitor : byPlayer, 0.033 + r.serverLostMs / 1000);
}

// The loss report without the gaps that the server put in the sources (a starved server skips
// cycles of its clock; the test microphone's chain drops sound besides): the recording rightly
// tells them and fills them with silence. Nothing else may be lost.
std::string lossesBeyondServer(const Recorded& r) {
    return reportWithout(r.loss, [&](const std::string& sentence) {
        int ms = 0;
        const size_t lost = sentence.find(" lost ");
        const double sourceLost = sentence.rfind("The microphone", 0) == 0 ? r.micLostMs : r.serverLostMs;
        return lost != std::string::npos && sentence.find(" ms of sound in ") != std::string::npos &&
               std::sscanf(sentence.c_str() + lost, " lost %d ms", &ms) == 1 &&
               ms <= std::max(0.0, sourceLost) + 25;
    });
}

// The test microphone's 440 Hz at 0.25 of full scale.
constexpr double kMicRms = 0.25 * 32768 / 1.41421356;

// Whether the test microphone itself delivered its tone whole from `from` for `seconds` (with a
// margin for the two reads' different starts), where it is watched; levels of a stretch in which
// it did not are not the recording's to answer for.
bool micSteady(const Recorded& r, double from, double seconds) {
    if (!r.mic) return true;
    const std::vector<int16_t>& m = r.mic->samples();
    for (double t = std::max(0.0, from - 0.1); t < from + seconds + 0.1; t += 0.05) {
        if (sec(r, t + 0.1) > m.size() || toneLevel(m, 44100, 440, sec(r, t), sec(r, 0.1)) < 0.9 * kMicRms) {
            std::printf("the test microphone itself lost sound near %.2f s: its level there is not judged\n", t);
            return false;
        }
    }
    return true;
}

// Seconds of a tone of `freq` in `s` (44100 Hz): 10 ms windows of exactly ten periods at 1000 Hz,
// each weighted by its share of `playedRms`. A player starved by a busy machine leaves gaps in
// what it plays and finishes later, which is not the recording's doing: so the total is measured,
// not the level over a fixed stretch.
struct ToneExtent {
    double seconds = 0, strongest = 0;
    size_t strongestAt = 0, end = 0;   // sample indices
};
ToneExtent toneExtent(const std::vector<int16_t>& s, double freq, double playedRms) {
    ToneExtent t;
    const size_t win = 441;
    for (size_t i = 0; i + win <= s.size(); i += win) {
        const double level = toneLevel(s, 44100, freq, i, win);
        if (level < 0.05 * playedRms) continue;
        t.seconds += 0.01 * std::min(level / playedRms, 1.0);
        t.end = i + win;
        if (level > t.strongest) t.strongest = level, t.strongestAt = i;
    }
    return t;
}

int zeroCrossings(const std::vector<int16_t>& s, size_t start, size_t count) {
    int n = 0;
    for (size_t i = start + 1; i < s.size() && i < start + count; ++i)
        if ((s[i - 1] < 0) != (s[i] < 0)) ++n;
    return n;
}

}  // namespace

TEST(SoundCaptureSystem, ASoundServerCountsAsLoopbackPlatform) {
    detectSoundPlatform();
    EXPECT_TRUE(g_bVistaOrLater);
}

TEST(SoundCaptureSystem, MicrophoneRecordsTheInputInTheCapabilityFormat) {
    Recorded r = record("mic", 0, 2.0, [](CSoundCapture&, Clock::time_point t0) { sleepUntil(at(t0, 2.0)); });
    // The test source is mono: the first capability bit present is 48 kHz mono 16-bit, recorded at 44100.
    EXPECT_EQ(r.format.formatTag, 1);
    EXPECT_EQ(r.format.channels, 1);
    EXPECT_EQ(r.format.samplesPerSec, 44100u);
    EXPECT_EQ(r.format.bitsPerSample, 16);
    EXPECT_EQ(r.format.blockAlign, 2);
    EXPECT_EQ(r.format.avgBytesPerSec, 88200u);
    EXPECT_EQ(r.format.extraSize, 18);
    EXPECT_EQ(r.probe.codec, "pcm_s16le");
    EXPECT_EQ(r.probe.sampleRate, 44100);
    EXPECT_EQ(r.probe.channels, 1);
    EXPECT_NEAR(r.seconds(), 2.0, 0.06);
    // 440 Hz: 880 sign changes per second.
    if (micSteady(r, 0.8, 1.0)) {
        EXPECT_NEAR(zeroCrossings(r.samples, sec(r, 0.8), sec(r, 1.0)), 880, 6);
        EXPECT_GT(toneLevel(r.samples, 44100, 440, sec(r, 0.8), sec(r, 1.0)), 3000);
    }
    EXPECT_EQ(lossesBeyondServer(r), "") << r.loss;
}

// A null sink that nothing played to for a while renders in 2 s blocks and only adopts a low
// latency at its next wake-up, so what is played in the first 2 s reaches its monitor late. The
// tones below are played after that.
constexpr double kSinkAwake = 2.3;

TEST(SoundCaptureSystem, SystemSoundHasThePlayedToneAtItsTimeAndSilenceElsewhere) {
    // Connected after the recording's own streams, as in the measurements its latency figure was
    // checked by; outlives the recording, as closing it takes a while.
    std::unique_ptr<TonePlayer> player;
    double heard = 0, latency = 0;
    Recorded r = record("system", 1, 4.0, [&](CSoundCapture&, Clock::time_point t0) {
        player = std::make_unique<TonePlayer>();
        ASSERT_TRUE(player->ok()) << player->error();
        sleepUntil(at(t0, kSinkAwake + 0.2));
        heard = since(t0, player->play(1000, 0.6));
        latency = player->latencyMs();
        sleepUntil(at(t0, 4.0));
    });
    EXPECT_EQ(r.format.channels, 2);
    EXPECT_EQ(r.format.samplesPerSec, 44100u);
    EXPECT_EQ(r.format.bitsPerSample, 16);
    EXPECT_EQ(r.format.blockAlign, 4);
    EXPECT_EQ(r.probe.channels, 2);
    // The track covers the whole recording although the monitor's first data comes late.
    EXPECT_NEAR(r.seconds(), 4.0, 0.06);
    // A 10 ms window half filled with the tone (RMS 11585) crosses 5800: its middle is the onset.
    const double onset = toneOnset(r.samples, 44100, 1000, 5800) + 0.005;
    std::printf("player latency %.1f ms\n", latency);
    expectHeardWhereRecorded(r, onset, heard, toneOnset(r.monitor->samples(), 44100, 1000, 5800) + 0.005);
    // The whole tone the server played, at the amplitude and frequency it was played with.
    constexpr double kPlayedRms = 0.5 * 32768 / 1.41421356;
    const ToneExtent tone = toneExtent(r.samples, 1000, kPlayedRms);
    const ToneExtent played = toneExtent(r.monitor->samples(), 1000, kPlayedRms);
    std::printf("tone %.3f s (the monitor heard %.3f s), strongest window %.0f, ends at %.3f s\n", tone.seconds,
                played.seconds, tone.strongest, double(tone.end) / 44100);
    // A starved server may drop some of what the player queued: the monitor tells what it played.
    // It may also drop a few cycles of one reader and not of another (22 ms measured in a full
    // run), so the recording is held to 40 ms of it.
    EXPECT_NEAR(played.seconds, 0.6, 0.1);
    EXPECT_NEAR(tone.seconds, played.seconds, 0.04);
    EXPECT_NEAR(tone.strongest, kPlayedRms, 0.1 * kPlayedRms);
    // All of that window's energy is the 1000 Hz tone.
    EXPECT_GT(tone.strongest, 0.95 * rms(r.samples, tone.strongestAt, 441));
    EXPECT_LT(rms(r.samples, 0, sec(r, onset - 0.05)), 20);
    EXPECT_LT(rms(r.samples, tone.end + sec(r, 0.02), r.samples.size()), 20);
    EXPECT_EQ(lossesBeyondServer(r), "") << r.loss;
}

TEST(SoundCaptureSystem, SystemSoundWithNothingPlayingIsSilenceForTheWholeRecording) {
    Recorded r = record("quiet", 1, 2.0, [](CSoundCapture&, Clock::time_point t0) { sleepUntil(at(t0, 2.0)); });
    EXPECT_NEAR(r.seconds(), 2.0, 0.06);
    EXPECT_LT(rms(r.samples, 0, r.samples.size()), 1);
}

TEST(SoundCaptureSystem, BothMixesMicrophoneAndSystemSound) {
    // Connected after the recording's own streams, as in the measurements its latency figure was
    // checked by; outlives the recording, as closing it takes a while.
    std::unique_ptr<TonePlayer> player;
    double heard = 0, latency = 0;
    Recorded r = record("both", 2, 4.0, [&](CSoundCapture& c, Clock::time_point t0) {
        player = std::make_unique<TonePlayer>();
        ASSERT_TRUE(player->ok()) << player->error();
        EXPECT_NE(c.mixingRing(), nullptr);
        EXPECT_EQ(c.mixingRing()->capacity(), int(20 * c.recordingFormat().avgBytesPerSec));
        sleepUntil(at(t0, kSinkAwake + 0.2));
        heard = since(t0, player->play(1000, 0.8));
        latency = player->latencyMs();
        sleepUntil(at(t0, 4.0));
    });
    EXPECT_EQ(r.format.channels, 2);
    EXPECT_NEAR(r.seconds(), 4.0, 0.06);
    // A 10 ms window half filled with the tone (RMS 11585) crosses 5800: its middle is the onset.
    const double onset = toneOnset(r.samples, 44100, 1000, 5800) + 0.005;
    std::printf("player latency %.1f ms\n", latency);
    expectHeardWhereRecorded(r, onset, heard, toneOnset(r.monitor->samples(), 44100, 1000, 5800) + 0.005);
    size_t mid = sec(r, onset + 0.2);
    std::printf("levels with the tone: 1000 Hz %.0f, 440 Hz %.0f\n", toneLevel(r.samples, 44100, 1000, mid, sec(r, 0.4)),
                toneLevel(r.samples, 44100, 440, mid, sec(r, 0.4)));
    EXPECT_GT(toneLevel(r.samples, 44100, 1000, mid, sec(r, 0.4)), 4000);
    if (micSteady(r, onset + 0.2, 0.4)) {
        EXPECT_GT(toneLevel(r.samples, 44100, 440, mid, sec(r, 0.4)), 2000);
    }
    // Before the tone only the microphone is heard, from the start on. (PulseAudio's test sine
    // source hands over its first 2 s at once and then goes on in small blocks; under load the
    // mixing ring runs short for a moment at that change, which no real microphone has.)
    for (double t : {0.2, 1.0, 1.6}) {
        if (micSteady(r, t, 0.2)) {
            EXPECT_GT(toneLevel(r.samples, 44100, 440, sec(r, t), sec(r, 0.2)), 2000) << t;
        }
        EXPECT_LT(toneLevel(r.samples, 44100, 1000, sec(r, t), sec(r, 0.2)), 100) << t;
    }
    EXPECT_EQ(lossesBeyondServer(r), "") << r.loss;
}

TEST(SoundCaptureSystem, PauseKeepsTheDeviceOpenAndNothingFromThePauseReachesTheFile) {
    // Connected after the recording's own streams, as in the measurements its latency figure was
    // checked by; outlives the recording, as closing it takes a while.
    std::unique_ptr<TonePlayer> player;
    double heard = 0;
    Recorded r = record("pause", 1, 5.0, [&](CSoundCapture& c, Clock::time_point t0) {
        player = std::make_unique<TonePlayer>();
        ASSERT_TRUE(player->ok()) << player->error();
        sleepUntil(at(t0, kSinkAwake - 0.1));   // heard about 0.1 s later
        heard = since(t0, player->play(700, 0.4));
        sleepUntil(at(t0, 3.0));
        EXPECT_EQ(c.pause(at(t0, 3.0)), 0);
        sleepUntil(at(t0, 3.2));
        const Clock::time_point paused = player->play(1500, 0.6);   // only while paused
        EXPECT_LT(since(t0, paused) + 0.6, 4.2) << "the machine was too slow for the script";
        // The recording stream is still connected to the server while paused.
        FILE* p = popen("pactl list short source-outputs | wc -l", "r");
        int outputs = 0;
        ASSERT_EQ(fscanf(p, "%d", &outputs), 1);
        pclose(p);
        EXPECT_GE(outputs, 1);
        sleepUntil(at(t0, 4.2));
        EXPECT_EQ(c.resume(at(t0, 4.2)), 0);
        sleepUntil(at(t0, 5.0));
    });
    // 3.0 s before the pause and 0.8 s after it; the 1.2 s of the pause are not in the track.
    EXPECT_NEAR(r.seconds(), 3.8, 0.06);
    expectHeardWhereRecorded(r, toneOnset(r.samples, 44100, 700, 2000), heard,
                             toneOnset(r.monitor->samples(), 44100, 700, 2000));
    EXPECT_LT(toneOnset(r.samples, 44100, 1500, 300, 0.1), 0);
    EXPECT_LT(rms(r.samples, sec(r, 2.9), sec(r, 0.9)), 20);   // around the resume: silence
}

// A sound server of this test's own, so that it can be killed.
class DyingServer : public ::testing::Test {
protected:
    void SetUp() override {
        socket_ = testDir() + "/dying.sock";
        std::string proto = "--load=module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1";
        const char* argv[] = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                              proto.c_str(),
                              "--load=module-null-sink sink_name=dying_sink rate=44100 channels=2",
                              "--load=module-sine-source source_name=dying_sine rate=44100 frequency=440",
                              nullptr};
        ASSERT_EQ(posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        const char* old = std::getenv("PULSE_SERVER");
        oldServer_ = old ? old : "";
        setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
        bool up = false;
        for (int i = 0; i < 100 && !up; ++i) {
            up = std::system("pactl info >/dev/null 2>&1") == 0;
            if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(up);
        ASSERT_EQ(std::system("pactl set-default-sink dying_sink && pactl set-default-source dying_sine"), 0);
    }
    void TearDown() override {
        if (pid_ > 0 && !killed_) kill(pid_, SIGKILL);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
        setenv("PULSE_SERVER", oldServer_.c_str(), 1);
    }
    void killServer() {
        kill(pid_, SIGKILL);
        killed_ = true;
    }
    std::string socket_, oldServer_;
    pid_t pid_ = -1;
    bool killed_ = false;
};

TEST_F(DyingServer, SoundStopsWithoutHangingAndTheLossIsReported) {
    Clock::time_point stopBegan, stopEnded;
    Recorded r;
    std::string path = testDir() + "/dying.avi";
    {
        CSoundCapture capture(1, 2);
        r.format = capture.recordingFormat();
        AudioAvi avi = createAudioAvi(path, r.format);
        ASSERT_NE(avi.stream, nullptr);
        capture.setAudioStream(avi.stream);
        Clock::time_point t0 = Clock::now();
        capture.setTimeOrigin(t0);
        ASSERT_EQ(capture.start(), 0) << capture.lastError();
        sleepUntil(at(t0, 3.0));
        killServer();
        sleepUntil(at(t0, 4.0));
        stopBegan = Clock::now();
        capture.stopSources();
        stopEnded = Clock::now();
        r.loss = capture.lossReport();
        avi.file->releaseTrack(avi.stream);
        EXPECT_TRUE(avi.file->finish());
    }
    EXPECT_LT(std::chrono::duration<double>(stopEnded - stopBegan).count(), 0.5);
    // Both sources say when they lost the server: at the third second of the recording.
    size_t at = r.loss.find("at 00:00:0");
    ASSERT_NE(at, std::string::npos) << r.loss;
    char second = r.loss[at + 10];
    EXPECT_TRUE(second == '2' || second == '3') << r.loss;
    EXPECT_NE(r.loss.find("missing"), std::string::npos) << r.loss;
    r.samples = decodeMono(path);
    // What was recorded before the server went away is in the file.
    EXPECT_NEAR(r.seconds(), 3.0, 0.2);
    EXPECT_GT(toneLevel(r.samples, 44100, 440, sec(r, 1.0), sec(r, 0.5)), 2000);
}

TEST_F(DyingServer, StartFailsWhenTheServerIsAlreadyGone) {
    CSoundCapture capture(1, 1);
    killServer();
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    auto begin = Clock::now();
    EXPECT_NE(capture.start(), 0);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - begin).count(), 3.5);
}
