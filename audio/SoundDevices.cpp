#include "audio/SoundDevices.h"

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

class PulseSilence : public ISilenceOutput {
public:
    explicit PulseSilence(std::unique_ptr<pulse::Stream> s) : s_(std::move(s)) {}
    int writeSilence(size_t maxBytes) override { return s_->writeSilence(maxBytes); }

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
        pulse::DeviceSpec spec;
        if (!pulse::defaultSinkSpec(&spec, error)) return false;
        f->formatTag = kWaveFormatPcm;
        f->channels = spec.channels;
        f->samplesPerSec = spec.rate;
        f->bitsPerSample = 16;
        f->blockAlign = uint16_t(2 * spec.channels);
        f->avgBytesPerSec = f->blockAlign * spec.rate;
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
        auto s = pulse::Stream::open(pulse::Stream::Direction::kRecord, "@DEFAULT_MONITOR@", specOf(f),
                                     fragmentBytes, kMaxBuffered, "Torvane system sound", error);
        return s ? std::make_unique<PulseInput>(std::move(s)) : nullptr;
    }

    std::unique_ptr<ISilenceOutput> openSilence(std::string* error) override {
        if (!g_bVistaOrLater) {
            if (error) *error = "no sound server";
            return nullptr;
        }
        pulse::StreamSpec spec;   // 44100 Hz, 2 channels, 16 bits
        // About 170 ms queued: plenty to keep the stream playing between the player's turns.
        auto s = pulse::Stream::open(pulse::Stream::Direction::kPlayback, "", spec, 1920 * 16, 0,
                                     "Torvane silence", error);
        return s ? std::make_unique<PulseSilence>(std::move(s)) : nullptr;
    }
};

}  // namespace

ISoundDevices& defaultSoundDevices() {
    static MachineSoundDevices devices;
    return devices;
}

}  // namespace torvane
