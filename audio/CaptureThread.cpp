#include "audio/CaptureThread.h"

#include <algorithm>

namespace torvane {

CCaptureThread::~CCaptureThread() {
    // Derived classes stop the thread in their own destructors, before their state goes away.
}

bool CCaptureThread::deviceLost(int64_t* atMs, std::string* error) const {
    std::lock_guard<std::mutex> g(lossLock_);
    if (!lost_) return false;
    if (atMs) *atMs = lostAtMs_;
    if (error) *error = lostError_;
    return true;
}

bool CCaptureThread::startThread(std::unique_ptr<IWaveInDevice> device, const WaveFormat& format,
                                 Clock::time_point origin, size_t chunkBytes) {
    if (thread_.joinable() || !device || format.blockAlign == 0) return false;
    device_ = std::move(device);
    threadFormat_ = format;
    chunkBytes_ = std::max<size_t>(chunkBytes - chunkBytes % format.blockAlign, format.blockAlign);
    stopRequested_ = false;
    abort_ = false;
    delivered_ = 0;
    {
        std::lock_guard<std::mutex> g(lossLock_);
        lost_ = false;
    }
    timeline_.begin(origin);
    try {
        thread_ = std::thread(&CCaptureThread::run, this);
    } catch (...) {
        device_.reset();
        return false;
    }
    return true;
}

void CCaptureThread::stopThread(bool drain, int graceMs) {
    if (!thread_.joinable()) {
        device_.reset();
        return;
    }
    stopAtTicks_ = Clock::now().time_since_epoch().count();
    graceMs_ = graceMs;
    if (drain) {
        stopRequested_ = true;
    } else {
        abort_ = true;
        device_->interrupt();
    }
    // The loop waits at most a short read time-out between checks, so this ends promptly.
    thread_.join();
    device_.reset();
}

void CCaptureThread::run() {
    const uint32_t frame = threadFormat_.blockAlign;
    const uint32_t rate = threadFormat_.samplesPerSec;
    std::vector<uint8_t> buf(chunkBytes_);
    bool first = true;
    for (;;) {
        if (abort_) break;
        bool stopping = stopRequested_;
        if (stopping) {
            Clock::time_point stopAt{Clock::duration(stopAtTicks_.load())};
            if (delivered_ >= timeline_.framesAt(stopAt, rate) ||
                Clock::now() > stopAt + std::chrono::milliseconds(graceMs_.load()))
                break;
        }
        int n = device_->read(buf.data(), buf.size(), stopping ? 20 : 100);
        if (n < 0) {
            std::lock_guard<std::mutex> g(lossLock_);
            lost_ = true;
            lostAtMs_ = delivered_ * 1000 / int64_t(rate);
            lostError_ = device_->error();
            break;
        }
        if (n == 0) continue;
        Clock::time_point arrival = Clock::now();
        if (first) {
            first = false;
            Clock::time_point captured;
            if (!device_->firstCaptureTime(&captured))
                captured = arrival - std::chrono::microseconds(int64_t(n / frame) * 1000000 / rate);
            int64_t pad = timeline_.framesAt(captured, rate);
            std::vector<uint8_t> zeros(buf.size(), 0);
            bool ok = true;
            while (pad > 0 && ok) {
                int64_t frames = std::min<int64_t>(pad, int64_t(zeros.size() / frame));
                ok = consume(zeros.data(), size_t(frames) * frame);
                if (ok) delivered_ += frames;
                pad -= frames;
            }
            if (!ok) break;
        }
        if (timeline_.paused()) continue;   // the device keeps running; its data is discarded
        if (!consume(buf.data(), size_t(n))) break;
        delivered_ += n / frame;
    }
    finish();
}

}  // namespace torvane
