// Sound from a device whose clock is 0.5 % fast or slow stays on the picture's time line: a
// colour change and a tone made at the same moment 40 s into the recording arrive within a frame
// period of each other, and the two tracks end together. The device is a pipe source fed by
// tests/env/skewed-source.py at the skewed rate. A device that loses a stretch of frames gets
// silence in their place, and the sound after the loss stays where it belongs.

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
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

bool onPipeWire() {
    const char* server = std::getenv("TORVANE_SOUND_SERVER");
    return server && std::strcmp(server, "pipewire") == 0;
}

std::string defaultSource() {
    std::string name = runCommand("pactl get-default-source 2>&1");
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    return name;
}

// Makes `name` the default source; what the server takes as the default once it agrees, or after 2 s.
// A server that chooses its default itself (PipeWire's session manager) may take a moment to agree
// with a source made anew under the name of one that just went.
std::string setDefaultSource(const std::string& name) {
    runCommand("pactl set-default-source " + name);
    for (int i = 0; i < 100 && defaultSource() != name; ++i) std::this_thread::sleep_for(20ms);
    return defaultSource();
}

// The pipe source and its generator, made the default source for the recording.
class SkewedSource {
public:
    explicit SkewedSource(double ppm) {
        fifo_ = outDir() + "/skewed.fifo";
        std::remove(toneLog().c_str());
        std::remove((toneLog() + ".lost").c_str());
        module_ = runCommand("pactl load-module module-pipe-source source_name=torvane_skewed file='" + fifo_ +
                             "' format=s16le rate=44100 channels=2 2>&1");
        pid_ = fork();
        if (pid_ == 0) {
            const std::string ppmText = std::to_string(ppm);
            execl(TORVANE_SKEWED_SOURCE, TORVANE_SKEWED_SOURCE, fifo_.c_str(), ppmText.c_str(), "0.5", "0.3", "0.6",
                  toneLog().c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        defaultAtStart_ = setDefaultSource("torvane_skewed");
    }
    ~SkewedSource() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (std::atoi(module_.c_str()) > 0) runCommand("pactl unload-module " + module_);
    }
    bool ok() const { return pid_ > 0 && std::atoi(module_.c_str()) > 0 && defaultAtStart_ == "torvane_skewed"; }
    std::string loadOutput() const { return module_ + " (default source: " + defaultAtStart_ + ")"; }
    void tone() const { kill(pid_, SIGUSR1); }
    // The next 0.3 s of frames are never written.
    void drop() const { kill(pid_, SIGUSR2); }
    // Nothing comes for 0.6 s, then all of it at once.
    void stall() const { kill(pid_, SIGHUP); }
    // The source's own frame index of each tone so far.
    std::vector<long> toneFrames() const {
        std::vector<long> frames;
        std::ifstream in(toneLog());
        for (long f; in >> f;) frames.push_back(f);
        return frames;
    }

    // The frames each drop lost (the drop, and what a starved generator owed when asked).
    std::vector<long> lostFrames() const {
        std::vector<long> frames;
        std::ifstream in(toneLog() + ".lost");
        for (long f; in >> f;) frames.push_back(f);
        return frames;
    }

private:
    std::string toneLog() const { return outDir() + "/skewed-tones.txt"; }

    std::string fifo_, module_, defaultAtStart_;
    pid_t pid_ = -1;
};

// This process's connections to the sound server pass through tests/env/stalling-proxy.py while
// it lives; stall() holds up the microphone's stream for `seconds` and then hands it over at once.
class StallingProxy {
public:
    explicit StallingProxy(double seconds) {
        const char* server = std::getenv("PULSE_SERVER");
        server_ = server ? server : "";
        const std::string socket = outDir() + "/stalling-proxy.sock";
        std::remove(socket.c_str());
        std::remove(log().c_str());
        if (server_.rfind("unix:", 0) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            const std::string stall = std::to_string(seconds);
            execl(TORVANE_STALLING_PROXY, TORVANE_STALLING_PROXY, socket.c_str(), server_.c_str() + 5,
                  "Torvane microphone", stall.c_str(), log().c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && access(socket.c_str(), F_OK) != 0; ++i) std::this_thread::sleep_for(10ms);
        if (access(socket.c_str(), F_OK) == 0) setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    }
    ~StallingProxy() {
        setenv("PULSE_SERVER", server_.c_str(), 1);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool ok() const { return pid_ > 0 && server_ != std::getenv("PULSE_SERVER"); }
    void stall() const { kill(pid_, SIGHUP); }
    // The bytes held up in each stall so far.
    std::vector<long> held() const {
        std::vector<long> bytes;
        std::ifstream in(log());
        std::string word;
        for (long n; in >> word >> n;) bytes.push_back(n);
        return bytes;
    }

private:
    std::string log() const { return outDir() + "/stalling-proxy.log"; }

    std::string server_;
    pid_t pid_ = -1;
};

// All sound of the file as GStreamer's own demuxer hands it out, 16-bit mono.
std::vector<int16_t> gstDecodeMono(const std::string& file) {
    const std::string raw = file + ".gst.raw";
    runCommand("gst-launch-1.0 -q filesrc location='" + file + "' ! avidemux name=d d.audio_0 ! audioconvert ! "
               "audio/x-raw,format=S16LE,channels=1 ! filesink location='" + raw + "' 2>&1");
    std::ifstream in(raw, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

void waitRecorded(const CCaptureSession& s, uint32_t ms) {
    while (s.recordedMilliseconds() < ms) std::this_thread::sleep_for(1ms);
}

// A 320 x 240 area at kFps with sound from `option`, no pointer.
bool prepareArea(CCaptureSession& s, int option) {
    ScreenSettings area;
    area.sourceKind = kSourceArea;
    area.rect = {0, 0, 320, 240};
    area.frameRate = kFps;
    applyOutputSize(area);
    CursorSettings noCursor;
    noCursor.captureCursor = 0;
    return s.setScreenSettings(area) && s.setSoundEnabled(1) && s.setSoundOption(option) &&
           s.setCursorSettings(noCursor) && s.setWebcamSettings({}) && s.setPipSettings({}) &&
           s.setWatermarkSettings({});
}

constexpr double kDropSeconds = 0.3;
constexpr double kStallSeconds = 0.6;

// dropMs: when the source loses kDropSeconds of frames (0: never).
void recordWithSkew(double ppm, uint32_t changeMs, uint32_t dropMs = 0) {
    SkewedSource source(ppm);
    ASSERT_TRUE(source.ok()) << source.loadOutput();
    std::this_thread::sleep_for(500ms);   // the source runs before the recording starts
    XPainter x;
    const uint32_t w = x.window(0, 0, 320, 240, 0x000000);
    MovingSquare square;

    CCaptureSession s;
    ASSERT_TRUE(prepareArea(s, kSoundMicrophone));
    const std::string file = outDir() + "/drift.avi";
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    // A first tone early, before the clocks have drifted apart (7 ms at 0.5 %): the source's own delay.
    waitRecorded(s, 1500);
    const double early = s.recordedMilliseconds() / 1000.0;
    source.tone();
    if (dropMs > 0) {
        waitRecorded(s, dropMs);
        source.drop();
    }
    // Half a frame period into a position, so which picture first shows the change is no race.
    waitRecorded(s, changeMs + 17);
    x.setColour(w, 0xFFFFFF);
    const double signalled = s.recordedMilliseconds() / 1000.0;
    source.tone();
    waitRecorded(s, changeMs + 2000);
    ASSERT_TRUE(s.stop());
    if (dropMs == 0) {
        EXPECT_EQ(lossesBesidesLate(s.lossReport()), "");
    } else {
        // Told as one gap of about the time lost, not hidden.
        long gapMs = 0;
        const size_t told = s.lossReport().find("The microphone lost ");
        ASSERT_NE(told, std::string::npos) << s.lossReport();
        ASSERT_EQ(std::sscanf(s.lossReport().c_str() + told, "The microphone lost %ld ms of sound in 1 gap,", &gapMs), 1)
            << s.lossReport();
        const std::vector<long> lost = source.lostFrames();
        ASSERT_EQ(lost.size(), 1u);
        EXPECT_NEAR(gapMs, lost[0] * 1000.0 / 44100, 40) << s.lossReport();
        EXPECT_GE(lost[0], long(kDropSeconds * 44100));
    }
    double measured = 0;
    if (std::abs(ppm) >= 1000) {
        const char* way = ppm > 0 ? "fast" : "slow";
        ASSERT_EQ(std::sscanf(s.soundClockReport().c_str(),
                              ppm > 0 ? "The microphone's clock ran %lf ppm fast"
                                      : "The microphone's clock ran %lf ppm slow",
                              &measured), 1)
            << "no " << way << " clock told: " << s.soundClockReport();
        EXPECT_NEAR(measured, std::abs(ppm), 0.1 * std::abs(ppm));
    } else {
        std::sscanf(s.soundClockReport().c_str(), "The microphone's clock ran %lf", &measured);
    }
    std::printf("clock report: %s\n", s.soundClockReport().c_str());

    const auto packets = videoPackets(file);
    double changeAt = -1;
    int64_t gap = 1;
    int index = 0;
    int64_t previous = -1;
    for (const Packet& p : packets) {
        if (p.size == 0) continue;
        if (p.pts >= int64_t(changeMs - 600) * kFps / 1000) {
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

    // Both readers see the tone where the picture changed, and the tracks end together.
    const double video = double(videoPositions(file)) / kFps;
    const std::vector<int16_t> ff = test::decodeMono(file), gst = gstDecodeMono(file);
    ASSERT_FALSE(ff.empty());
    ASSERT_FALSE(gst.empty());
    for (const auto* sound : {&ff, &gst}) {
        const char* reader = sound == &ff ? "ffmpeg" : "GStreamer";
        const double earlyOnset = test::toneOnset(*sound, 44100, 1000, 5800) + 0.005;
        const size_t from = std::min<size_t>(sound->size(), size_t(changeMs - 1000) * 441 / 10);
        const std::vector<int16_t> late(sound->begin() + std::ptrdiff_t(from), sound->end());
        const double onset = test::toneOnset(late, 44100, 1000, 5800) + 0.005 + (changeMs - 1000) / 1000.0;
        const double length = double(sound->size()) / 44100;
        std::printf("%s: %+.0f ppm (measured %.0f): change at %.3f s (%ld after the picture before), tone at %.3f s;"
                    " video %.3f s, sound %.3f s\n",
                    reader, ppm, measured, changeAt, long(gap), onset, video, length);
        // Against the recording clock itself (the tone follows the signal within the generator's
        // 5 ms step), less the delay the test source has from the start (the same all through a
        // run on a clock that is on time, 100-200 ms from run to run): what is left is drift.
        const double delay = earlyOnset - early;
        std::printf("offset %s %+.0f ppm: tone %+.1f ms from the recording time it was made at (%+.1f ms at 1.5 s),"
                    " end %+.1f ms\n", reader, ppm, (onset - signalled) * 1000, delay * 1000, (length - video) * 1000);
        EXPECT_LT(std::abs(onset - signalled - delay), 1.0 / kFps) << reader;
        // One frame period, more only when a busy machine left positions empty before the change.
        EXPECT_LE(std::abs(onset - delay - changeAt), double(gap) / kFps + 0.005) << reader;
        // The sound ends where the video's last frame period does.
        EXPECT_LT(std::abs(video - length), 0.020) << reader;
    }
    EXPECT_NEAR(gstDuration(file), video, 0.020);
    x.destroy(w);
}

// On PipeWire, the microphone is the monitor of a sink of its own that a player plays into: the
// server's pipe source reads on its own clock and delays by tens of ms more or less from one tone
// to the next, while a player tells when its tone is heard.
class MonitorMicrophone {
public:
    MonitorMicrophone() {
        module_ = runCommand("pactl load-module module-null-sink sink_name=torvane_mic rate=44100 channels=2 2>&1");
        defaultAtStart_ = setDefaultSource("torvane_mic.monitor");
    }
    ~MonitorMicrophone() {
        if (std::atoi(module_.c_str()) > 0) runCommand("pactl unload-module " + module_);
    }
    bool ok() const { return std::atoi(module_.c_str()) > 0 && defaultAtStart_ == "torvane_mic.monitor"; }
    std::string loadOutput() const { return module_ + " (default source: " + defaultAtStart_ + ")"; }

private:
    std::string module_, defaultAtStart_;
};

// The recording's time at `t`, a moment just past: a thread woken late on a busy machine reads the
// clock late, by as much as it overslept.
double recordedAt(const CCaptureSession& s, test::TonePlayer::Clock::time_point t) {
    const auto now = test::TonePlayer::Clock::now();
    return s.recordedMilliseconds() / 1000.0 - std::chrono::duration<double>(now - t).count();
}

// "Both": a microphone that stalls twice (0.6 s) and then hands over what it owes at once stays where it
// belongs in the mix, and the system sound does too; `pause`: with a pause between the stalls. On
// PulseAudio the device stalls (its generator writes nothing, then all it owes); on PipeWire, whose
// clocked sources never burst, the microphone's stream is held up on its way to the recorder.
void recordBothWithStalls(bool pause) {
    std::optional<SkewedSource> source;
    std::optional<MonitorMicrophone> monitorMic;
    std::optional<StallingProxy> proxy;
    if (onPipeWire()) {
        monitorMic.emplace();
        ASSERT_TRUE(monitorMic->ok()) << monitorMic->loadOutput();
        proxy.emplace(kStallSeconds);
        ASSERT_TRUE(proxy->ok()) << "the stalling proxy did not start";
    } else {
        source.emplace(0);
        ASSERT_TRUE(source->ok()) << source->loadOutput();
        std::this_thread::sleep_for(500ms);   // the source runs before the recording starts
    }
    const auto stall = [&] { proxy ? proxy->stall() : source->stall(); };
    XPainter x;
    const uint32_t w = x.window(0, 0, 320, 240, 0x000000);
    CCaptureSession s;
    ASSERT_TRUE(prepareArea(s, kSoundBoth));
    const std::string file = outDir() + (pause ? "/both-stalls-paused.avi" : "/both-stalls.avi");
    test::ServerClockWatch watch("torvane_sink.monitor");
    ASSERT_TRUE(watch.ok()) << watch.error();
    ASSERT_TRUE(s.start(file, nullptr)) << s.lastError();
    test::TonePlayer player;   // connected ahead of its tone, after the recording's own streams
    ASSERT_TRUE(player.ok()) << player.error();
    std::optional<test::TonePlayer> micPlayer;
    if (monitorMic) {
        micPlayer.emplace("torvane_mic");
        ASSERT_TRUE(micPlayer->ok()) << micPlayer->error();
    }
    // A microphone tone; the recording time it was made at (heard at, from a player).
    const auto micTone = [&]() -> double {
        if (!micPlayer) {
            const double at = s.recordedMilliseconds() / 1000.0;
            source->tone();
            return at;
        }
        const auto heard = micPlayer->play(1000, 0.5);
        if (heard == test::TonePlayer::Clock::time_point()) return -1;
        std::this_thread::sleep_until(heard);
        return recordedAt(s, heard);
    };
    // A first microphone tone just before the stalls: the test source's own delay.
    waitRecorded(s, 2000);
    const double early = micTone();
    ASSERT_GT(early, 0);
    waitRecorded(s, 2500);
    stall();
    if (pause) {
        waitRecorded(s, 3500);
        ASSERT_TRUE(s.pause());
        std::this_thread::sleep_for(1s);
        ASSERT_TRUE(s.resume());
    }
    waitRecorded(s, 4500);
    stall();
    waitRecorded(s, 6500);
    const double micAt = micTone();
    ASSERT_GT(micAt, 0);
    waitRecorded(s, 7500);
    const auto heard = player.play(2500, 0.5);
    ASSERT_NE(heard, test::TonePlayer::Clock::time_point());
    std::this_thread::sleep_until(heard);
    const double systemAt = recordedAt(s, heard);
    waitRecorded(s, 9000);
    ASSERT_TRUE(s.stop());
    // A server starved of the processor may skip cycles of its clock (PipeWire's graph does): every
    // stream lacks that time, what is played after it is heard late by as much, and the recording
    // either fills it (when it is long enough to tell from lateness) or lacks it too. The markers may
    // move by what the server lost, measured by a reader of its own; nothing else may be lost.
    const double serverLostMs = watch.stopAndTellLostMs();
    ASSERT_GE(serverLostMs, 0) << "the server's clock could not be watched";
    std::printf("the sound server's clock lost %.1f ms\n", serverLostMs);
    if (serverStallMs(s.lossReport()) == 0) {
        EXPECT_EQ(lossesBesidesLate(s.lossReport()), "");
    }
    const double slack = 1.0 / kFps + serverLostMs / 1000.0;
    if (proxy) {
        // Each stall met the microphone's stream: at least 0.4 s of its sound (16-bit mono or more).
        const std::vector<long> held = proxy->held();
        ASSERT_EQ(held.size(), 2u);
        for (long bytes : held) EXPECT_GE(bytes, long(0.4 * 44100 * 2)) << "the stall held up too little";
    }

    const std::vector<int16_t> sound = test::decodeMono(file);
    ASSERT_GT(sound.size(), size_t(8 * 44100));
    auto onsetAfter = [&](double freq, double from) {
        const size_t at = size_t(from * 44100);
        const std::vector<int16_t> part(sound.begin() + std::ptrdiff_t(at), sound.end());
        const double t = test::toneOnset(part, 44100, freq, 5800);
        return t < 0 ? -1.0 : t + 0.005 + from;
    };
    const double first = onsetAfter(1000, 0);
    const double mic = onsetAfter(1000, micAt - 1.0);
    const double system = onsetAfter(2500, systemAt - 1.0);
    // Against the recording clock, less the test source's own delay as the first tone showed it.
    const double delay = first - early;
    std::printf("microphone delay %.1f ms; after the stalls: microphone %+.1f ms, system sound %+.1f ms\n",
                delay * 1000, (mic - micAt - delay) * 1000, (system - systemAt) * 1000);
    ASSERT_GT(first, 0) << "the microphone's first tone is not in the mix";
    ASSERT_GT(mic, 0) << "the microphone's tone is not in the mix";
    ASSERT_GT(system, 0) << "the system sound's tone is not in the mix";
    EXPECT_LT(delay, 1.0) << "the microphone's sound starts late";
    EXPECT_LT(std::abs(mic - micAt - delay), slack) << "the microphone moved in the mix";
    EXPECT_LT(std::abs(system - systemAt), slack) << "the system sound moved in the mix";
    // The mix still ends with the picture.
    EXPECT_LT(std::abs(double(videoPositions(file)) / kFps - double(sound.size()) / 44100), 1.0 / kFps);
    x.destroy(w);
}

}  // namespace

TEST(Drift, BothKeepsAStallingMicrophoneInPlace) { recordBothWithStalls(false); }

TEST(Drift, BothKeepsAStallingMicrophoneInPlaceAcrossAPause) { recordBothWithStalls(true); }

TEST(Drift, FastSoundClockStaysWithThePicture) { recordWithSkew(5000, 40000); }

TEST(Drift, SlowSoundClockStaysWithThePicture) { recordWithSkew(-5000, 40000); }

// The tone 6 s after the loss is where the picture changed, not 0.3 s early.
TEST(Drift, LostFramesBecomeSilenceInPlace) { recordWithSkew(0, 15000, 9000); }

// For the benchmark (bench/drift.sh): the skew and the moment of the change from the environment.
TEST(Drift, ChosenSkew) {
    const char* ppm = std::getenv("TORVANE_DRIFT_PPM");
    const char* at = std::getenv("TORVANE_DRIFT_CHANGE_SECONDS");
    if (!ppm || !at) GTEST_SKIP() << "TORVANE_DRIFT_PPM and TORVANE_DRIFT_CHANGE_SECONDS choose the run";
    recordWithSkew(std::atof(ppm), uint32_t(std::atof(at) * 1000));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
