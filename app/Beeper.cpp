#include "app/Beeper.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace torvane {

bool playTone(int frequencyHz, int durationMs) {
    if (frequencyHz <= 0 || durationMs <= 0) return false;
    constexpr uint32_t kRate = 44100;
    const pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
    int error = 0;
    pa_simple* out = pa_simple_new(nullptr, "TorvaneRecorder", PA_STREAM_PLAYBACK, nullptr, "beep", &spec, nullptr,
                                   nullptr, &error);
    if (!out) return false;
    const size_t count = size_t(kRate) * size_t(durationMs) / 1000;
    std::vector<int16_t> samples(count);
    // A few milliseconds of fade at both ends keep the tone free of clicks.
    const size_t fade = std::min<size_t>(count / 2, kRate / 200);
    for (size_t i = 0; i < count; ++i) {
        double gain = 0.4;
        if (i < fade) gain *= double(i) / double(fade);
        if (count - i <= fade) gain *= double(count - i) / double(fade);
        samples[i] = int16_t(std::lround(32767.0 * gain *
                                         std::sin(2.0 * std::numbers::pi * frequencyHz * double(i) / kRate)));
    }
    bool ok = pa_simple_write(out, samples.data(), samples.size() * sizeof(int16_t), &error) == 0;
    ok = pa_simple_drain(out, &error) == 0 && ok;
    pa_simple_free(out);
    return ok;
}

CBeeper::~CBeeper() {
    if (thread_.joinable()) thread_.join();
}

bool CBeeper::play(int frequencyHz, int durationMs) {
    if (playing_.load()) return false;
    if (thread_.joinable()) thread_.join();
    playing_.store(true);
    started_.fetch_add(1);
    thread_ = std::thread([this, frequencyHz, durationMs] {
        playTone(frequencyHz, durationMs);
        playing_.store(false);
    });
    return true;
}

}  // namespace torvane
