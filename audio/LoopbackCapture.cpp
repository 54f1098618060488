#include "audio/LoopbackCapture.h"

#include <pthread.h>

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
    const uint8_t* out = data;
    CAudioRing* ring = owner_ ? owner_->mixingRing() : nullptr;
    if (owner_ && g_bVistaOrLater && owner_->soundOption() == 2 && ring) {
        mix_.assign(data, data + bytes);
        mic_.resize(bytes);
        // A ring holding less than the packet gives nothing: the packet goes out without microphone.
        if (ring->read(mic_.data(), int(bytes))) {
            std::vector<int16_t> a(bytes / 2), b(bytes / 2);
            std::memcpy(a.data(), mix_.data(), a.size() * 2);
            std::memcpy(b.data(), mic_.data(), b.size() * 2);
            mixSamples(a.data(), b.data(), a.size());
            std::memcpy(mix_.data(), a.data(), a.size() * 2);
        }
        out = mix_.data();
    }
    int frames = int(bytes / format_.blockAlign);
    if (!sink_ || !sink_->write(position_, frames, out, bytes)) {
        writeFailed_ = true;   // system sound ends here for the rest of the recording
        return false;
    }
    position_ += frames;
    return true;
}

}  // namespace torvane
