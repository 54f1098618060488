#include "audio/CaptureThread.h"

#include <pthread.h>

#include <algorithm>

#include "audio/ClockDrift.h"
#include "audio/SoundResampler.h"

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

bool CCaptureThread::clockOffset(double* ppm, bool* corrected) const {
    if (!clockKnown_) return false;
    if (ppm) *ppm = clockPpm_;
    if (corrected) *corrected = clockCorrected_;
    return true;
}

bool CCaptureThread::startThread(std::unique_ptr<IWaveInDevice> device, const WaveFormat& format,
                                 Clock::time_point origin, size_t chunkBytes) {
    if (thread_.joinable() || !device || format.blockAlign == 0 || format.samplesPerSec == 0) return false;
    device_ = std::move(device);
    threadFormat_ = format;
    chunkBytes_ = std::max<size_t>(chunkBytes - chunkBytes % format.blockAlign, format.blockAlign);
    stopRequested_ = false;
    abort_ = false;
    delivered_ = 0;
    clockKnown_ = false;
    clockCorrected_ = false;
    clockPpm_ = 0;
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

void CCaptureThread::stopThread(bool drain, Clock::time_point at, int graceMs) {
    if (!thread_.joinable()) {
        device_.reset();
        return;
    }
    stopAtTicks_ = at.time_since_epoch().count();
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

// Every frame is placed by the time it was captured: the device's first frame was captured at
// `first` and the stream runs continuously, so frame k was captured at first + k / rate. Frames
// from before the recording's origin or from a pause are dropped, the time from the origin to the
// first frame becomes silence, and at stop the frames up to the stop moment are still awaited.
// Frames wait kHoldBack before they are written, so that a pause or stop given for a moment
// shortly before the call (the video's) still applies to them; frames a source hands over ahead
// of their time (test sources render seconds in advance) wait until they are due.
// A device dates its first data from the moment it arrived, but a first batch that sat in the
// server (PipeWire's, as measured: 10-20 ms) arrives later than the ones after it. No frame arrives
// before it was captured, so until the first frame is written the start is moved back to the
// earliest that every arrival allows.
// The device's clock is not the recording's: its frames are stretched (inaudibly, by a resampler)
// so that frame k really is what was captured at first + k / rate; the frame indices above are
// those of the stretched sound.
void CCaptureThread::run() {
    pthread_setname_np(pthread_self(), threadName());
    constexpr auto kHoldBack = std::chrono::milliseconds(200);
    const uint32_t frame = threadFormat_.blockAlign;
    const uint32_t rate = threadFormat_.samplesPerSec;
    const Clock::time_point origin = timeline_.origin();
    const int64_t step = std::max<int64_t>(rate / 200, 1);   // decisions in 5 ms steps
    const size_t maxPending = size_t(rate) * frame * 30;      // never hold more than 30 s
    std::vector<uint8_t> buf(chunkBytes_);
    std::vector<uint8_t> pending;
    size_t pendingOffset = 0;     // bytes of `pending` already handled
    int64_t pendingFrame = 0;     // frame index (of the stretched sound) at pendingOffset
    bool haveFirst = false;
    Clock::time_point first{};
    int64_t deviceFrames = 0;    // as delivered by the device
    int64_t outFrames = 0;       // after stretching, what `pending` has received
    ClockDriftController drift{double(rate)};
    SoundResampler stretcher;
    bool stretching = stretcher.open(threadFormat_, nullptr);
    std::vector<uint8_t> stretched;
    int discontinuities = 0;
    Clock::time_point settledAt{};   // the fit starts over until then, after a discontinuity
    bool done = false;            // the consumer gave up, or the stop moment was reached
    bool placed = false;          // `first` is final and the silence in front of it written
    auto captureTime = [&](int64_t k) { return first + std::chrono::microseconds(k * 1000000 / rate); };

    auto place = [&] {
        placed = true;
        device_->placedFrom(first);
        int64_t pad = timeline_.framesAt(first, rate);
        std::vector<uint8_t> zeros(buf.size(), 0);
        while (pad > 0 && !done) {
            int64_t f = std::min<int64_t>(pad, int64_t(zeros.size() / frame));
            if (consume(zeros.data(), size_t(f) * frame)) delivered_ += f;
            else done = true;
            pad -= f;
        }
    };

    // Writes or drops the pending frames captured before `limit`.
    auto release = [&](Clock::time_point limit) {
        bool stopping = stopRequested_;
        Clock::time_point stopAt{Clock::duration(stopAtTicks_.load())};
        if (!placed) {
            if (!stopping && first >= limit && pending.size() - pendingOffset <= maxPending) return;
            place();
        }
        while (!done && pendingOffset < pending.size()) {
            int64_t f = std::min<int64_t>(step, int64_t((pending.size() - pendingOffset) / frame));
            Clock::time_point c = captureTime(pendingFrame);
            bool overfull = pending.size() - pendingOffset > maxPending;
            if (c >= limit && !overfull) break;
            if (stopping && c >= stopAt) {
                done = true;
                break;
            }
            // The device keeps running while paused; what it captured meanwhile is discarded.
            if (c >= origin && !timeline_.pausedAt(c)) {
                if (consume(pending.data() + pendingOffset, size_t(f) * frame)) delivered_ += f;
                else done = true;
            }
            pendingOffset += size_t(f) * frame;
            pendingFrame += f;
        }
        if (pendingOffset > pending.size() / 2) {
            pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(pendingOffset));
            pendingOffset = 0;
        }
    };

    bool failed = false;
    while (!done && !abort_) {
        bool stopping = stopRequested_;
        Clock::time_point stopAt{Clock::duration(stopAtTicks_.load())};
        if (stopping && ((haveFirst && captureTime(outFrames) >= stopAt) ||
                         Clock::now() > stopAt + std::chrono::milliseconds(graceMs_.load())))
            break;
        int n = device_->read(buf.data(), buf.size(), stopping ? 20 : 50);
        if (n < 0) {
            failed = true;
            break;
        }
        if (n > 0) {
            int64_t frames = n / frame;
            const Clock::time_point arrived = Clock::now();
            if (!haveFirst) {
                haveFirst = true;
                if (!device_->firstCaptureTime(&first)) first = arrived;
            }
            deviceFrames += frames;
            if (!placed && device_->discontinuities() == 0)
                first = std::min(first, arrived - std::chrono::microseconds(deviceFrames * 1000000 / rate));
            stretched.clear();
            if (stretching && !stretcher.process(buf.data(), frames, &stretched, nullptr)) stretching = false;
            if (!stretching && stretched.empty())
                stretched.assign(buf.begin(), buf.begin() + std::ptrdiff_t(frames * frame));
            pending.insert(pending.end(), stretched.begin(), stretched.end());
            outFrames += int64_t(stretched.size() / frame);
            if (stretching) {
                // The silence a device puts in for a move comes in a burst after it: the fit
                // starts over once that is through.
                if (device_->discontinuities() != discontinuities) {
                    discontinuities = device_->discontinuities();
                    settledAt = Clock::now() + std::chrono::milliseconds(500);
                }
                if (Clock::now() < settledAt) drift.restart(deviceFrames, outFrames + stretcher.heldFrames());
                drift.observe(std::chrono::duration<double>(Clock::now() - first).count(), deviceFrames,
                              outFrames + stretcher.heldFrames());
                // A resampler that fails leaves the sound as the device delivered it.
                if (!stretcher.setStretch(drift.stretch(), nullptr)) stretching = false;
                const ClockDriftEstimator& e = drift.estimator();
                if (e.reliable()) {
                    clockPpm_ = e.ppm();
                    clockCorrected_ = drift.engaged() && stretching;
                    clockKnown_ = true;
                }
            }
        }
        if (haveFirst) release(stopping ? stopAt : Clock::now() - kHoldBack);
    }
    // Whatever was captured up to the end (the stop moment, or the device's failure) is written;
    // an abort writes nothing more.
    if (!abort_ && haveFirst) {
        stretched.clear();
        if (stretching && stretcher.flush(&stretched, nullptr))
            pending.insert(pending.end(), stretched.begin(), stretched.end());
        release(Clock::time_point::max());
    }
    if (failed) {
        std::lock_guard<std::mutex> g(lossLock_);
        lost_ = true;
        lostAtMs_ = delivered_ * 1000 / int64_t(rate);
        lostError_ = device_->error();
    }
    finish();
}

}  // namespace torvane
