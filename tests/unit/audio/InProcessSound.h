#pragma once
// Sound devices held in memory: an input that delivers a numbered ramp (or a constant) in real
// time, in 10 ms chunks, and can fail on request; and a sink that keeps what is written.

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "audio/AudioSink.h"
#include "audio/SoundDevices.h"

namespace torvane::test {

struct InputScript {
    std::atomic<bool> fail{false};     // the device dies
    std::atomic<int> opens{0};
    int16_t constant = 0;              // 0: a ramp of frame numbers (mod 32768)
    int delayMs = 0;                   // before the first data
    double ppm = 0;                    // how far the device's clock runs from nominal
    int firstLateMs = 0;               // the first chunk is handed over this late (and dated by then)
    int aheadMs = 0;                   // everything is handed over this early, as test sources do
    // Stretches (from, length in ms after the start) with nothing handed over; what was due in
    // them comes at once afterwards, none lost (a busy USB microphone). Set before the start.
    std::vector<std::pair<int, int>> stalls;
};

class InProcessInput : public IWaveInDevice {
public:
    InProcessInput(const WaveFormat& f, InputScript& s) : f_(f), s_(s), begin_(std::chrono::steady_clock::now()) {}
    int read(void* dst, size_t maxBytes, int timeoutMs) override {
        using namespace std::chrono;
        if (s_.fail) return -1;
        if (interrupted_) return 0;
        // Data is due in 10 ms chunks after the start delay; wait for the next one.
        const double rate = f_.samplesPerSec * (1 + s_.ppm / 1e6);
        auto due = begin_ + milliseconds(s_.delayMs) + microseconds(int64_t(double(frames_) * 1e6 / rate)) +
                   milliseconds(10) - milliseconds(s_.aheadMs);
        if (!haveFirst_) due += milliseconds(s_.firstLateMs);   // the later chunks catch up at once
        for (const auto& [from, length] : s_.stalls) {
            const auto start = begin_ + milliseconds(from), end = start + milliseconds(length);
            if (due > start && due < end) due = end;
        }
        auto limit = steady_clock::now() + milliseconds(timeoutMs);
        if (due > limit) {
            std::this_thread::sleep_until(limit);
            return 0;
        }
        std::this_thread::sleep_until(due);
        if (!haveFirst_) {
            first_ = due - milliseconds(10);
            haveFirst_ = true;
        }
        size_t frames = std::min<size_t>(f_.samplesPerSec / 100, maxBytes / f_.blockAlign);
        auto* out = static_cast<int16_t*>(dst);
        for (size_t i = 0; i < frames; ++i, ++frames_)
            for (int c = 0; c < f_.channels; ++c) *out++ = s_.constant ? s_.constant : int16_t(frames_ % 32768);
        return int(frames * f_.blockAlign);
    }
    bool firstCaptureTime(std::chrono::steady_clock::time_point* t) const override {
        if (haveFirst_) *t = first_;
        return haveFirst_;
    }
    void interrupt() override { interrupted_ = true; }
    std::string error() const override { return "the in-process device failed"; }

private:
    WaveFormat f_;
    InputScript& s_;
    std::chrono::steady_clock::time_point begin_, first_;
    bool haveFirst_ = false;
    uint64_t frames_ = 0;
    std::atomic<bool> interrupted_{false};
};

class InProcessDevices : public ISoundDevices {
public:
    InputScript mic, loop;
    WaveFormat loopFormat{1, 2, 44100, 176400, 4, 16, 0};
    uint32_t inputCapabilities(bool* ok, std::string*) override {
        *ok = true;
        return kCaps48S16;
    }
    std::unique_ptr<IWaveInDevice> openInput(const WaveFormat& f, uint32_t, std::string*) override {
        ++mic.opens;
        return std::make_unique<InProcessInput>(f, mic);
    }
    bool loopbackFormat(WaveFormat* f, std::string*) override {
        *f = loopFormat;
        return true;
    }
    std::unique_ptr<IWaveInDevice> openLoopback(const WaveFormat& f, uint32_t, std::string*) override {
        ++loop.opens;
        return std::make_unique<InProcessInput>(f, loop);
    }
    std::unique_ptr<ISilenceOutput> openSilence(std::string*) override { return nullptr; }
};

class RecordingSink : public IAudioSink {
public:
    struct Write {
        int64_t position;
        int samples;
        std::vector<int16_t> data;
    };
    std::atomic<bool> failing{false};
    std::atomic<int> attempts{0};
    bool write(int64_t position, int samples, const void* data, size_t bytes) override {
        ++attempts;
        if (failing) return false;
        std::lock_guard<std::mutex> g(m);
        auto* p = static_cast<const int16_t*>(data);
        writes.push_back({position, samples, std::vector<int16_t>(p, p + bytes / 2)});
        return true;
    }
    std::vector<Write> take() {
        std::lock_guard<std::mutex> g(m);
        return writes;
    }
    std::mutex m;
    std::vector<Write> writes;
};

}  // namespace torvane::test
