#include "ServerClockWatch.h"

#include <pulse/error.h>

#include <algorithm>

namespace torvane::test {

namespace {
constexpr size_t kReadFrames = ServerClockWatch::kRate / 100;   // 10 ms a read
constexpr double kWindowSeconds = 0.5;        // the least late read of this long at each end
}  // namespace

ServerClockWatch::ServerClockWatch(const std::string& source) {
    pa_sample_spec spec{PA_SAMPLE_S16LE, kRate, 1};
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    // Fragments as large as the recorder's own (20 ms), so that watching does not make the server
    // run shorter cycles than the recording alone would.
    attr.fragsize = uint32_t(kRate / 50 * 2);
    int e = 0;
    stream_ = pa_simple_new(nullptr, "torvane test clock watch", PA_STREAM_RECORD, source.c_str(), "watch", &spec,
                            nullptr, &attr, &e);
    if (!stream_) {
        error_ = std::string("cannot record ") + source + ": " + pa_strerror(e);
        return;
    }
    start_ = Clock::now();
    thread_ = std::thread(&ServerClockWatch::run, this);
}

ServerClockWatch::~ServerClockWatch() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (stream_) pa_simple_free(stream_);
}

void ServerClockWatch::run() {
    std::vector<int16_t> buf(kReadFrames);
    double sound = 0;
    int e = 0;
    while (!stop_) {
        if (pa_simple_read(stream_, buf.data(), buf.size() * 2, &e) < 0) break;
        samples_.insert(samples_.end(), buf.begin(), buf.end());
        sound += double(kReadFrames) / kRate;
        const double t = std::chrono::duration<double>(Clock::now() - start_).count();
        std::lock_guard<std::mutex> lock(m_);
        reads_.emplace_back(t, sound);
    }
}

double ServerClockWatch::stopAndTellLostMs() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(m_);
    if (reads_.size() < 2 || reads_.back().first - reads_.front().first < 3 * kWindowSeconds) return -1;
    // Sound ahead of the steady clock at a read; reads are late by their scheduling, never early,
    // so the most ahead of a window is the truest.
    const double first = reads_.front().first, last = reads_.back().first;
    double early = -1e9, late = -1e9;
    for (const auto& [t, sound] : reads_) {
        if (t <= first + kWindowSeconds) early = std::max(early, sound - t);
        if (t >= last - kWindowSeconds) late = std::max(late, sound - t);
    }
    return std::max(0.0, (early - late) * 1000);
}

ServerClockWatch::Clock::time_point ServerClockWatch::heardAt(double soundSeconds) const {
    if (thread_.joinable()) return {};
    // A read returns a sample no sooner than it was heard: the least late read is the truest.
    double ahead = -1e9;
    for (const auto& [t, sound] : reads_)
        if (sound >= soundSeconds && sound <= soundSeconds + kWindowSeconds) ahead = std::max(ahead, sound - t);
    if (ahead < -1e8) return {};
    return start_ + std::chrono::microseconds(int64_t((soundSeconds - ahead) * 1e6));
}

}  // namespace torvane::test
