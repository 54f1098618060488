#include "TonePlayer.h"

#include <pulse/error.h>

#include <cmath>

namespace torvane::test {

namespace {
constexpr uint32_t kRate = 44100;
constexpr size_t kBlockFrames = kRate / 100;   // 10 ms: how soon a tone follows the request
}  // namespace

TonePlayer::TonePlayer(const std::string& sink) {
    pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 2};
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    // 100 ms queued: a busy machine leaves a 20 ms queue empty now and then, a gap in the tone.
    attr.tlength = uint32_t(pa_usec_to_bytes(100000, &spec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    int e = 0;
    stream_ = pa_simple_new(nullptr, "torvane test player", PA_STREAM_PLAYBACK, sink.empty() ? nullptr : sink.c_str(),
                            "tone", &spec, nullptr, &attr, &e);
    if (!stream_) {
        error_ = std::string("cannot play: ") + pa_strerror(e);
        return;
    }
    thread_ = std::thread(&TonePlayer::run, this);
}

TonePlayer::~TonePlayer() {
    stop_ = true;
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (stream_) pa_simple_free(stream_);
}

TonePlayer::Clock::time_point TonePlayer::play(double freq, double seconds, double amplitude) {
    if (!stream_) return {};
    std::vector<int16_t> tone(size_t(seconds * kRate) * 2);
    for (size_t i = 0; i < tone.size() / 2; ++i)
        tone[2 * i] = tone[2 * i + 1] =
            int16_t(std::lround(amplitude * 32767 * std::sin(2 * M_PI * freq * double(i) / kRate)));
    std::unique_lock<std::mutex> lock(m_);
    tone_ = std::move(tone);
    toneDue_ = true;
    toneStarted_ = false;
    cv_.wait(lock, [&] { return toneStarted_ || stop_; });
    return toneStarted_ ? heardAt_ : Clock::time_point();
}

void TonePlayer::run() {
    std::vector<int16_t> silence(kBlockFrames * 2, 0), tone;
    size_t toneAt = 0;
    int e = 0;
    while (!stop_) {
        if (toneAt >= tone.size()) {
            std::lock_guard<std::mutex> lock(m_);
            if (toneDue_) {
                tone.swap(tone_);
                toneAt = 0;
                toneDue_ = false;
                // What is queued now is heard first; the tone right after it. The figure holds
                // for the moment it was asked: asked again when this thread lost the processor
                // meanwhile, as a busy machine does.
                pa_usec_t latency = 0;
                Clock::time_point asked;
                for (int i = 0; i < 20; ++i) {
                    const Clock::time_point before = Clock::now();
                    latency = pa_simple_get_latency(stream_, &e);
                    const Clock::time_point after = Clock::now();
                    asked = before + (after - before) / 2;
                    if (after - before < std::chrono::milliseconds(2)) break;
                }
                if (latency == pa_usec_t(-1)) latency = 0;
                heardAt_ = asked + std::chrono::microseconds(latency);
                latencyMs_ = double(latency) / 1000;
                toneStarted_ = true;
                cv_.notify_all();
            }
        }
        const int16_t* data = silence.data();
        size_t frames = kBlockFrames;
        if (toneAt < tone.size()) {
            data = tone.data() + toneAt;
            frames = std::min(kBlockFrames, (tone.size() - toneAt) / 2);
            toneAt += frames * 2;
        }
        // Blocks until the server takes it: the server paces this loop.
        if (pa_simple_write(stream_, data, frames * 4, &e) < 0) break;
    }
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
    cv_.notify_all();
}

}  // namespace torvane::test
