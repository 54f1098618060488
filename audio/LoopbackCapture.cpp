#include "audio/LoopbackCapture.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

#include "audio/AudioRing.h"
#include "audio/AudioSink.h"
#include "audio/SampleMixing.h"
#include "audio/SoundCapture.h"
#include "audio/SoundPlatform.h"

namespace torvane {
namespace {
constexpr size_t kSilenceBytes = 1920;   // 480 frames of 44.1 kHz stereo, about 10.9 ms
constexpr size_t kPacketBytes = 19200;   // the most taken from the device at once
}  // namespace

CLoopbackCapture::CLoopbackCapture(CSoundCapture* owner, WaveFormat& ownerFormat, ISoundDevices& devices)
    : owner_(owner), devices_(devices) {
    ready_ = devices_.loopbackFormat(&format_, &lastError_) && format_.blockAlign > 0;
    if (ready_) ownerFormat = format_;
}

CLoopbackCapture::~CLoopbackCapture() {
    stopThread(false);
    stopSilence();
}

int CLoopbackCapture::start(IAudioSink* sink, Clock::time_point origin) {
    if (!ready_) return -1;
    if (started_) return 0;
    // Small fragments (20 ms): the server hands over data steadily instead of in 2 s bursts, and
    // the age of the first data is known to within a fragment (measured: 40 ms fragments put
    // the sound 35 ms early).
    uint32_t fragment = format_.avgBytesPerSec / 50;
    const Clock::time_point opened = Clock::now();
    auto device = devices_.openLoopback(format_, fragment, &lastError_);
    if (!device) return -1;
    sink_ = sink;
    position_ = 0;
    pending_.clear();
    lagFrames_ = 0;
    lagAtMs_ = 0;
    writeFailed_ = false;
    if (!startThread(std::move(device), format_, origin, kPacketBytes, opened)) {
        lastError_ = "cannot create the system sound thread";
        return -1;
    }
    // The silence player is best effort, as the monitor also delivers while nothing plays.
    std::string ignored;
    auto out = devices_.openSilence(&ignored);
    {
        std::lock_guard<std::mutex> g(silenceLock_);
        silenceStop_ = false;
    }
    try {
        silence_ = std::thread(&CLoopbackCapture::silenceLoop, this, std::move(out));
    } catch (...) {
        stopThread(false);
        lastError_ = "cannot create the silence thread";
        return -1;
    }
    started_ = true;
    return 0;
}

int CLoopbackCapture::stop(Clock::time_point at) {
    if (!started_) return 1;
    stopThread(true, at);
    stopSilence();
    started_ = false;
    return 0;
}

void CLoopbackCapture::stopSilence() {
    if (!silence_.joinable()) return;
    {
        std::lock_guard<std::mutex> g(silenceLock_);
        silenceStop_ = true;
    }
    silenceWake_.notify_all();
    silence_.join();
}

void CLoopbackCapture::silenceLoop(std::unique_ptr<ISilenceOutput> out) {
    pthread_setname_np(pthread_self(), "torvane-silence");
    std::unique_lock<std::mutex> lock(silenceLock_);
    // The output queue holds about 170 ms; topping it up every 40 ms keeps it from running dry.
    while (!silenceWake_.wait_for(lock, std::chrono::milliseconds(40), [&] { return silenceStop_; })) {
        if (!out) continue;
        lock.unlock();
        if (out->writeSilence(kSilenceBytes * 16) < 0) out.reset();   // a failed output is dropped
        lock.lock();
    }
}

bool CLoopbackCapture::consume(const uint8_t* data, size_t bytes) {
    CAudioRing* ring = owner_ ? owner_->mixingRing() : nullptr;
    if (!(owner_ && g_bVistaOrLater && owner_->soundOption() == 2 && ring)) return writeOut(data, bytes);
    // Mixed: the system sound waits here until the microphone has reached the same positions.
    pending_.insert(pending_.end(), data, data + bytes);
    position_ += int64_t(bytes / format_.blockAlign);
    return mixPending(*ring, false);
}

void CLoopbackCapture::finish() {
    CAudioRing* ring = owner_ ? owner_->mixingRing() : nullptr;
    if (ring && !pending_.empty() && !writeFailed_) mixPending(*ring, true);
}

bool CLoopbackCapture::mixPending(CAudioRing& ring, bool all) {
    const int64_t waiting = int64_t(pending_.size() / format_.blockAlign);
    const int64_t written = position_.load() - waiting;   // the track position of pending_[0]
    int64_t count = waiting;
    if (!all && !ring.closed()) {
        // What the microphone covers goes out now; what it does not, once it has waited its
        // bound, goes out with silence in the microphone's place.
        const int64_t covered = std::clamp<int64_t>(ring.end() - written, 0, waiting);
        const int64_t bound = int64_t(format_.samplesPerSec) * kMixWaitMs / 1000;
        count = std::max(covered, waiting - bound);
    }
    if (count <= 0) return true;
    const size_t bytes = size_t(count) * format_.blockAlign;
    mic_.resize(bytes);
    const int held = ring.read(written, mic_.data(), int(count));
    if (held < count && !ring.closed() && ring.end() < written + count) {
        // The microphone is later than the bound: its sound for these positions is missing.
        if (lagFrames_.load() == 0) lagAtMs_ = (written + held) * 1000 / std::max<int64_t>(format_.samplesPerSec, 1);
        lagFrames_ += count - held;
    }
    std::vector<int16_t> a(bytes / 2), b(bytes / 2);
    std::memcpy(a.data(), pending_.data(), bytes);
    std::memcpy(b.data(), mic_.data(), bytes);
    mixSamples(a.data(), b.data(), a.size());
    mix_.resize(bytes);
    std::memcpy(mix_.data(), a.data(), bytes);
    if (!writeAt(written, mix_.data(), bytes)) return false;
    pending_.erase(pending_.begin(), pending_.begin() + long(bytes));
    return true;
}

bool CLoopbackCapture::writeOut(const uint8_t* data, size_t bytes) {
    const int64_t at = position_.load();
    if (!writeAt(at, data, bytes)) return false;
    position_ += int64_t(bytes / format_.blockAlign);
    return true;
}

bool CLoopbackCapture::writeAt(int64_t position, const uint8_t* data, size_t bytes) {
    const int frames = int(bytes / format_.blockAlign);
    if (!sink_ || !sink_->write(position, frames, data, bytes)) {
        writeFailed_ = true;   // system sound ends here for the rest of the recording
        return false;
    }
    return true;
}

bool CLoopbackCapture::microphoneLagged(int64_t* atMs, int64_t* missingMs) const {
    const int64_t frames = lagFrames_.load();
    if (frames == 0) return false;
    if (atMs) *atMs = lagAtMs_.load();
    if (missingMs) *missingMs = frames * 1000 / std::max<int64_t>(format_.samplesPerSec, 1);
    return true;
}

}  // namespace torvane
