#include "audio/SoundCapture.h"

#include <cmath>
#include <cstdio>

#include "audio/AudioRing.h"
#include "audio/AudioSink.h"
#include "audio/SoundDevices.h"
#include "audio/SoundPlatform.h"
#include "audio/SystemSoundSource.h"
#include "audio/WaveInCapture.h"

namespace torvane {
namespace {

std::string clockText(int64_t ms) {
    int64_t s = ms / 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", (long long)(s / 3600), (long long)(s / 60 % 60),
                  (long long)(s % 60));
    return buf;
}

}  // namespace

CSoundCapture::CSoundCapture(int soundEnabled, int soundOption)
    : CSoundCapture(soundEnabled, soundOption, defaultSoundDevices()) {}

CSoundCapture::CSoundCapture(int soundEnabled, int soundOption, ISoundDevices& devices)
    : enabled_(soundEnabled), option_(soundOption), devices_(devices) {
    detectSoundPlatform();
    construct();
}

void CSoundCapture::construct() {
    if (option_ == 1 || (option_ == 2 && g_bVistaOrLater))
        system_ = std::make_unique<CSystemSoundSource>(this, format_, devices_);
    if (option_ == 0 || option_ == 2)
        // With a system-sound source the microphone records in its format, which the
        // sample-by-sample mixing relies on.
        mic_ = std::make_unique<CWaveInCapture>(format_, this, system_ != nullptr, devices_);
    if (option_ == 2 && g_bVistaOrLater && format_.avgBytesPerSec > 0)
        ring_ = std::make_unique<CAudioRing>(int(20 * format_.avgBytesPerSec), format_.blockAlign);
}

CSoundCapture::~CSoundCapture() {
    // Sources first (they use the ring), then the ring.
    mic_.reset();
    system_.reset();
    ring_.reset();
}

void CSoundCapture::setAudioStream(media::ITrack* stream) {
    stream_ = stream;
    trackSink_ = std::make_unique<CTrackAudioSink>(stream);
    sink_ = trackSink_.get();
}

void CSoundCapture::setTimeOrigin(std::chrono::steady_clock::time_point origin) {
    origin_ = origin;
    haveOrigin_ = true;
}

int CSoundCapture::start() {
    if (!sink_) {
        startError_ = "no audio stream to write to";
        return -1;
    }
    auto origin = haveOrigin_ ? origin_ : std::chrono::steady_clock::now();
    switch (option_) {
    case 0:
        return mic_->start(sink_, origin);
    case 1:
        return system_->start(sink_, origin);
    case 2: {
        int rc = mic_->start(sink_, origin);
        if (rc != 0 || !g_bVistaOrLater) return rc;
        return system_->start(sink_, origin);
    }
    default:
        return 0;
    }
}

// Both sources pause, resume and stop at the same moment, so that the positions of the microphone
// in the mixing ring and of the system sound count the same recorded time to the end.
int CSoundCapture::pause() { return pause(std::chrono::steady_clock::now()); }
int CSoundCapture::resume() { return resume(std::chrono::steady_clock::now()); }
void CSoundCapture::stopSources() { stopSources(std::chrono::steady_clock::now()); }

int CSoundCapture::pause(std::chrono::steady_clock::time_point at) {
    if (mic_) mic_->setPaused(true, at);
    if (system_) system_->setPaused(true, at);
    return 0;
}

int CSoundCapture::resume(std::chrono::steady_clock::time_point at) {
    if (mic_) mic_->setPaused(false, at);
    if (system_) system_->setPaused(false, at);
    return 0;
}

void CSoundCapture::stopSources(std::chrono::steady_clock::time_point at, int64_t endFrames) {
    if (endFrames >= 0) {
        if (mic_) mic_->endTrackAt(endFrames);
        if (system_ && system_->active()) system_->active()->endTrackAt(endFrames);
    }
    stopSources(at);
}

void CSoundCapture::holdFrom(std::chrono::steady_clock::time_point at) {
    if (mic_) mic_->holdFrom(at);
    if (system_ && system_->active()) system_->active()->holdFrom(at);
}

void CSoundCapture::stopSources(std::chrono::steady_clock::time_point at) {
    if (mic_) mic_->stop(at);
    if (system_) system_->stop(at);
}

std::string CSoundCapture::lossReport() const {
    std::string report;
    auto add = [&](const std::string& s) {
        if (!report.empty()) report += " ";
        report += s;
    };
    auto deviceLoss = [&](const CCaptureThread* t, const char* what) {
        int64_t at = 0;
        if (t && t->deviceLost(&at, nullptr))
            add(std::string("The ") + what + " stopped delivering sound at " + clockText(at) +
                " (the sound device or sound server went away); the sound after that is missing.");
    };
    // In mixed mode the microphone only feeds the system-sound thread; its loss still matters.
    deviceLoss(mic_.get(), "microphone");
    deviceLoss(system_ ? system_->active() : nullptr, "system sound recording");
    auto gaps = [&](const CCaptureThread* t, const char* what) {
        int64_t ms = 0, at = 0;
        const int n = t ? t->soundGaps(&ms, &at) : 0;
        if (n == 0) return;
        add(std::string("The ") + what + " lost " + std::to_string(ms) + " ms of sound in " + std::to_string(n) +
            (n == 1 ? " gap" : " gaps") + ", the first at " + clockText(at) +
            "; silence fills the missing time, so the sound after it stays in step.");
    };
    gaps(mic_.get(), "microphone");
    gaps(system_ ? system_->active() : nullptr, "system sound recording");
    int64_t lagAt = 0, lagMs = 0;
    if (system_ && system_->loopback() && system_->loopback()->microphoneLagged(&lagAt, &lagMs))
        add("The microphone lagged behind the system sound from " + clockText(lagAt) + "; " + std::to_string(lagMs) +
            " ms of its sound came too late to be mixed and are missing.");
    int failed = 0;
    if (mic_) failed += mic_->failedWrites();
    if (system_ && system_->waveIn()) failed += system_->waveIn()->failedWrites();
    if (failed > 0) add(std::to_string(failed) + " audio block" + (failed == 1 ? "" : "s") +
                        " could not be written to the file.");
    if (system_ && system_->loopback() && system_->loopback()->writeFailed())
        add("The system sound could not be written to the file; the sound after " +
            clockText(system_->loopback()->position() * 1000 / std::max<int64_t>(format_.samplesPerSec, 1)) +
            " is missing.");
    return report;
}

std::string CSoundCapture::clockReport() const {
    std::string report;
    auto clock = [&](const CCaptureThread* t, const char* what) {
        double ppm = 0;
        bool corrected = false;
        if (!t || !t->clockOffset(&ppm, &corrected) || !corrected) return;
        char line[200];
        std::snprintf(line, sizeof line,
                      "The %s's clock ran %.0f ppm %s against the recording clock; its sound was resampled to "
                      "stay in step with the picture.",
                      what, std::abs(ppm), ppm >= 0 ? "fast" : "slow");
        report += (report.empty() ? "" : " ") + std::string(line);
    };
    clock(mic_.get(), "microphone");
    clock(system_ ? system_->active() : nullptr, "system sound source");
    return report;
}

std::string CSoundCapture::lastError() const {
    if (!startError_.empty()) return startError_;
    if (mic_ && !mic_->lastError().empty()) return mic_->lastError();
    if (system_) {
        if (system_->loopback()) return system_->loopback()->lastError();
        if (system_->waveIn()) return system_->waveIn()->lastError();
    }
    if (option_ < 0 || option_ > 2) return "no sound source for this option";
    return {};
}

}  // namespace torvane
