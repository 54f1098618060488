#include "audio/SoundDevices.h"

#include <algorithm>

#include "audio/FollowingMonitor.h"

#include "audio/SoundPlatform.h"
#include "platform/alsa/AlsaPcm.h"
#include "platform/pulse/PulseStream.h"

namespace torvane {
namespace {

using Clock = std::chrono::steady_clock;

class PulseInput : public IWaveInDevice {
public:
    explicit PulseInput(std::unique_ptr<pulse::Stream> s) : s_(std::move(s)) {}
    int read(void* dst, size_t maxBytes, int timeoutMs) override { return s_->read(dst, maxBytes, timeoutMs); }
    bool firstCaptureTime(Clock::time_point* t) const override { return s_->firstCaptureTime(t); }
    void interrupt() override { s_->interrupt(); }
    std::string error() const override { return s_->error(); }

private:
    std::unique_ptr<pulse::Stream> s_;
};

class AlsaInput : public IWaveInDevice {
public:
    explicit AlsaInput(std::unique_ptr<alsa::CapturePcm> p) : p_(std::move(p)) {}
    int read(void* dst, size_t maxBytes, int timeoutMs) override { return p_->read(dst, maxBytes, timeoutMs); }
    bool firstCaptureTime(Clock::time_point*) const override { return false; }
    void interrupt() override { p_->interrupt(); }
    std::string error() const override { return p_->error(); }

private:
    std::unique_ptr<alsa::CapturePcm> p_;
};

// Everything up to 32 blocks of input may wait for a slow reader before the oldest is dropped.
constexpr size_t kMaxBuffered = 32 * 19200;

pulse::StreamSpec specOf(const WaveFormat& f) {
    pulse::StreamSpec s;
    s.format = f.bitsPerSample == 8 ? pulse::SampleFormat::kU8 : pulse::SampleFormat::kS16LE;
    s.rate = f.samplesPerSec;
    s.channels = uint8_t(f.channels);
    return s;
}

bool usable(const WaveFormat& f, std::string* error) {
    if (f.formatTag == kWaveFormatPcm && f.channels > 0 && f.channels <= 32 && f.samplesPerSec > 0 &&
        (f.bitsPerSample == 8 || f.bitsPerSample == 16))
        return true;
    if (error) *error = "no usable sound input format";
    return false;
}

class MachineSoundDevices : public ISoundDevices {
public:
    uint32_t inputCapabilities(bool* ok, std::string* error) override {
        detectSoundPlatform();
        uint32_t bits = 0;
        if (g_bVistaOrLater) {
            // The server converts any format; offer what the source itself has, so that a mono
            // microphone is recorded as mono.
            pulse::DeviceSpec spec;
            *ok = pulse::defaultSourceSpec(&spec, error);
            if (*ok) {
                bits = kCaps48M16 | kCaps48M08 | kCaps4M08 | kCaps4M16;
                if (spec.channels >= 2) bits |= kCaps48S16 | kCaps48S08 | kCaps4S08 | kCaps4S16;
            }
            return bits;
        }
        alsa::PcmCapabilities c;
        *ok = alsa::captureCapabilities("default", &c, error);
        if (!*ok) return 0;
        if (c.rate48000[2][1]) bits |= kCaps48S16;
        if (c.rate48000[1][1]) bits |= kCaps48M16;
        if (c.rate48000[2][0]) bits |= kCaps48S08;
        if (c.rate48000[1][0]) bits |= kCaps48M08;
        if (c.rate44100[1][0]) bits |= kCaps4M08;
        if (c.rate44100[1][1]) bits |= kCaps4M16;
        if (c.rate44100[2][0]) bits |= kCaps4S08;
        if (c.rate44100[2][1]) bits |= kCaps4S16;
        return bits;
    }

    std::unique_ptr<IWaveInDevice> openInput(const WaveFormat& f, uint32_t fragmentBytes,
                                             std::string* error) override {
        detectSoundPlatform();
        if (!usable(f, error)) return nullptr;
        if (g_bVistaOrLater) {
            auto s = pulse::Stream::open(pulse::Stream::Direction::kRecord, "", specOf(f), fragmentBytes,
                                         kMaxBuffered, "Torvane microphone", error);
            return s ? std::make_unique<PulseInput>(std::move(s)) : nullptr;
        }
        auto p = alsa::CapturePcm::open("default", f.samplesPerSec, f.channels, f.bitsPerSample,
                                        fragmentBytes, error);
        return p ? std::make_unique<AlsaInput>(std::move(p)) : nullptr;
    }

    bool loopbackFormat(WaveFormat* f, std::string* error) override {
        detectSoundPlatform();
        if (!g_bVistaOrLater) {
            if (error) *error = "no sound server to record the system sound from";
            return false;
        }
        pulse::SinkMonitor mon;
        if (!pulse::defaultSinkMonitor(&mon, error)) return false;
        // The server converts: 44.1 kHz whatever the output runs at, and stereo at most.
        f->formatTag = kWaveFormatPcm;
        f->channels = uint16_t(std::clamp<int>(mon.spec.channels, 1, 2));
        f->samplesPerSec = 44100;
        f->bitsPerSample = 16;
        f->blockAlign = uint16_t(2 * f->channels);
        f->avgBytesPerSec = f->blockAlign * f->samplesPerSec;
        f->extraSize = 0;
        return true;
    }

    std::unique_ptr<IWaveInDevice> openLoopback(const WaveFormat& f, uint32_t fragmentBytes,
                                                std::string* error) override {
        if (!g_bVistaOrLater) {
            if (error) *error = "no sound server to record the system sound from";
            return nullptr;
        }
        if (!usable(f, error)) return nullptr;
        auto in = CFollowingMonitorInput::open(specOf(f), fragmentBytes, kMaxBuffered, error);
        if (!in) return nullptr;
        recorded_ = in->recordedSink();
        return in;
    }

    std::unique_ptr<ISilenceOutput> openSilence(std::string* error) override {
        if (!g_bVistaOrLater) {
            if (error) *error = "no sound server";
            return nullptr;
        }
        // On the sink the last system-sound recording opened, following it when it moves.
        auto sink = recorded_.lock();
        if (!sink) {
            pulse::SinkMonitor mon;
            if (!pulse::defaultSinkMonitor(&mon, error)) return nullptr;
            sink = std::make_shared<RecordedSink>();
            sink->set(mon.sink);
        }
        return std::make_unique<CFollowingSilence>(std::move(sink));
    }

private:
    std::weak_ptr<RecordedSink> recorded_;
};

}  // namespace

ISoundDevices& defaultSoundDevices() {
    static MachineSoundDevices devices;
    return devices;
}

}  // namespace torvane
