#include "audio/CaptureThread.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>

#include "audio/ClockDrift.h"
#include "audio/FrameLoss.h"
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

int CCaptureThread::soundGaps(int64_t* totalMs, int64_t* firstAtMs) const {
    std::lock_guard<std::mutex> g(lossLock_);
    if (totalMs) *totalMs = gapMs_;
    if (firstAtMs) *firstAtMs = firstGapAtMs_;
    return gaps_;
}

bool CCaptureThread::startThread(std::unique_ptr<IWaveInDevice> device, const WaveFormat& format,
                                 Clock::time_point origin, size_t chunkBytes, Clock::time_point opened) {
    if (thread_.joinable() || !device || format.blockAlign == 0 || format.samplesPerSec == 0) return false;
    device_ = std::move(device);
    threadFormat_ = format;
    chunkBytes_ = std::max<size_t>(chunkBytes - chunkBytes % format.blockAlign, format.blockAlign);
    opened_ = opened;
    stopRequested_ = false;
    abort_ = false;
    delivered_ = 0;
    clockKnown_ = false;
    clockCorrected_ = false;
    clockPpm_ = 0;
    {
        std::lock_guard<std::mutex> g(lossLock_);
        lost_ = false;
        gaps_ = 0;
        gapMs_ = firstGapAtMs_ = 0;
    }
    trackEnd_ = -1;
    holdAtTicks_ = INT64_MAX;
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
// server (PipeWire's, as measured: 10-20 ms; on a busy machine half a second of sound that comes in
// one burst) arrives later than the ones after it. No frame arrives before it was captured, nor was
// captured before the device was opened, so the start is moved back to the earliest that every
// arrival allows, never before the opening (test sources hand over seconds at once), and only
// fixed (the silence in front of it written) once a burst has drained: not before kHoldBack after
// the first arrival, nor while reads still move it by more than jitter does.
// The device's clock is not the recording's: its frames are stretched (inaudibly, by a resampler)
// so that frame k really is what was captured at first + k / rate; the frame indices above are
// those of the stretched sound.
// Frames the device lost (it delivers less for a while, then goes on) would move everything
// after them early: once the arrivals stay behind the device's clock line, the missing time goes
// in as silence at the place of the loss, and the sound after it waits meanwhile.
// At stop the track may be given the video's end: it ends there, not at the stop moment inside
// the video's last frame period. The video may take longer to finish than frames are held back,
// so a coming stop keeps them held back as at its moment until that end is known.
void CCaptureThread::run() {
    pthread_setname_np(pthread_self(), threadName());
    constexpr auto kHoldBack = std::chrono::milliseconds(200);
    constexpr auto kStartJitter = std::chrono::milliseconds(5);
    constexpr auto kStartQuiet = std::chrono::milliseconds(50);   // without a larger move
    constexpr auto kStartFixed = std::chrono::seconds(1);         // after the first arrival at most
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
    Clock::time_point firstArrived{}, startMoved{};
    int64_t deviceFrames = 0;    // as delivered by the device
    int64_t outFrames = 0;       // after stretching, what `pending` has received
    ClockDriftController drift{double(rate)};
    SoundResampler stretcher;
    bool stretching = stretcher.open(threadFormat_, nullptr);
    std::vector<uint8_t> stretched;
    int discontinuities = 0;
    Clock::time_point settledAt{};   // the fit starts over until then, after a discontinuity
    FrameLossDetector losses;
    int64_t lostFrames = 0;      // device frames lost, counted as delivered for the clock's fit
    bool done = false;            // the consumer gave up, or the stop moment was reached
    bool refused = false;         // the consumer gave up
    bool placed = false;          // `first` is final and the silence in front of it written
    // The clock fit's own zero: `first` may still move back, which must not bend the line.
    Clock::time_point fitFrom{};
    const uint8_t silenceByte = threadFormat_.bitsPerSample == 8 ? 0x80 : 0;
    auto captureTime = [&](int64_t k) { return first + std::chrono::microseconds(k * 1000000 / rate); };
    // The stop moment, moved to where the recording time reaches the track's given end (not
    // when a pause holds the time line there: the end is then made up with silence).
    auto stopMoment = [&]() {
        const Clock::time_point at{Clock::duration(stopAtTicks_.load())};
        const int64_t end = trackEnd_.load();
        if (end < 0 || timeline_.pausedAt(at)) return at;
        return at + std::chrono::microseconds((end - timeline_.framesAt(at, rate)) * 1000000 / rate);
    };
    auto writeSilence = [&](int64_t frames) {
        std::vector<uint8_t> zeros(std::min<size_t>(size_t(rate) * frame / 10, size_t(frames) * frame), silenceByte);
        while (frames > 0 && !done) {
            int64_t f = std::min<int64_t>(frames, int64_t(zeros.size() / frame));
            if (consume(zeros.data(), size_t(f) * frame)) delivered_ += f;
            else done = refused = true;
            frames -= f;
        }
    };

    auto place = [&] {
        placed = true;
        device_->placedFrom(first);
        writeSilence(timeline_.framesAt(first, rate));
    };

    // Writes or drops the pending frames captured before `limit`; `hold`: not past a possible loss.
    auto release = [&](Clock::time_point limit, bool hold) {
        bool stopping = stopRequested_;
        if (!placed) {
            const Clock::time_point now = Clock::now();
            const bool settled = now >= firstArrived + kStartFixed ||
                                 (now >= firstArrived + kHoldBack && now >= startMoved + kStartQuiet);
            if (!stopping && (!settled || first >= limit) && pending.size() - pendingOffset <= maxPending) return;
            place();
        }
        const Clock::time_point stopAt = stopMoment();
        const int64_t end = stopping ? trackEnd_.load() : -1;
        const int64_t until = hold && losses.suspecting() ? losses.holdMark() : INT64_MAX;
        while (!done && pendingOffset < pending.size()) {
            int64_t f = std::min<int64_t>(step, int64_t((pending.size() - pendingOffset) / frame));
            Clock::time_point c = captureTime(pendingFrame);
            bool overfull = pending.size() - pendingOffset > maxPending;
            if ((c >= limit || pendingFrame >= until) && !overfull) break;
            if (!overfull && until > pendingFrame) f = std::min(f, until - pendingFrame);
            if (stopping && c >= stopAt) {
                done = true;
                break;
            }
            // The device keeps running while paused; what it captured meanwhile is discarded.
            if (c >= origin && !timeline_.pausedAt(c)) {
                if (end >= 0 && delivered_ >= end) {
                    done = true;
                    break;
                }
                if (end >= 0) f = std::min(f, end - delivered_);
                if (consume(pending.data() + pendingOffset, size_t(f) * frame)) delivered_ += f;
                else done = refused = true;
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
    bool overdue = false;   // the stop came, and the device's sound never reached it
    while (!done && !abort_) {
        bool stopping = stopRequested_;
        const Clock::time_point stopAt = stopMoment();
        if (stopping) {
            if (haveFirst && captureTime(outFrames) >= stopAt) break;
            if (Clock::now() > stopAt + std::chrono::milliseconds(graceMs_.load())) {
                overdue = true;
                break;
            }
        }
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
                first = std::max(first, std::min(opened_, arrived));
                fitFrom = first;
                firstArrived = startMoved = arrived;
            }
            deviceFrames += frames;
            if (!placed && device_->discontinuities() == 0) {
                const Clock::time_point allowed =
                    std::max(arrived - std::chrono::microseconds(deviceFrames * 1000000 / rate), opened_);
                if (allowed < first - kStartJitter) startMoved = arrived;
                first = std::min(first, allowed);
            }
            stretched.clear();
            if (stretching && !stretcher.process(buf.data(), frames, &stretched, nullptr)) stretching = false;
            if (!stretching && stretched.empty())
                stretched.assign(buf.begin(), buf.begin() + std::ptrdiff_t(frames * frame));
            pending.insert(pending.end(), stretched.begin(), stretched.end());
            outFrames += int64_t(stretched.size() / frame);
            {
                const Clock::time_point now = Clock::now();
                const double seconds = std::chrono::duration<double>(now - fitFrom).count();
                int64_t in = deviceFrames + lostFrames;
                int64_t out = outFrames + stretcher.heldFrames();
                // The silence a device puts in for a move comes in a burst after it: the fit
                // starts over once that is through.
                if (device_->discontinuities() != discontinuities) {
                    discontinuities = device_->discontinuities();
                    settledAt = now + std::chrono::milliseconds(500);
                }
                const bool settling = now < settledAt;
                if (settling) drift.restart(in, out);
                double behind = 0;
                FrameLoss loss;
                if (settling || !drift.estimator().deviation(seconds, in, &behind)) {
                    losses.reset();
                } else if (losses.observe(seconds, behind, out, &loss)) {
                    // Silence for the missing time, in output frames, where the loss began.
                    const int64_t lostIn = std::llround(loss.seconds * rate);
                    const int64_t fill = std::llround(double(lostIn) / (1 + drift.estimator().drift()));
                    const int64_t at = std::clamp(loss.at, pendingFrame, outFrames);
                    pending.insert(pending.begin() + std::ptrdiff_t(pendingOffset + size_t(at - pendingFrame) * frame),
                                   size_t(fill) * frame, silenceByte);
                    outFrames += fill;
                    lostFrames += lostIn;
                    in += lostIn;
                    out += fill;
                    std::lock_guard<std::mutex> g(lossLock_);
                    const int64_t atMs =
                        std::chrono::duration_cast<std::chrono::milliseconds>(timeline_.at(captureTime(at))).count();
                    if (gaps_++ == 0) firstGapAtMs_ = atMs;
                    gapMs_ += fill * 1000 / rate;
                }
                // Arrivals that may follow a loss stay out of the fit until that is decided.
                if (!losses.suspecting()) drift.observe(seconds, in, out);
            }
            if (stretching) {
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
        if (haveFirst) {
            const Clock::time_point held{Clock::duration(holdAtTicks_.load())};
            release(stopping ? stopAt : std::min(Clock::now(), held) - kHoldBack, true);
        }
    }
    // Whatever was captured up to the end (the stop moment, or the device's failure) is written;
    // an abort writes nothing more. What a failed source handed over ahead of its time was never
    // captured.
    if (!abort_ && haveFirst) {
        stretched.clear();
        if (stretching && stretcher.flush(&stretched, nullptr))
            pending.insert(pending.end(), stretched.begin(), stretched.end());
        release(failed ? Clock::now() : Clock::time_point::max(), false);
    }
    // A track given the video's end that is short of it (a pause at the stop, a device that did
    // not deliver in time) ends there with silence. A device that never delivered, or stopped
    // delivering, still covers the recording with silence, up to the stop or to its failure.
    const int64_t end = trackEnd_.load();
    if (!abort_ && !refused && !haveFirst) {
        done = false;
        if (failed) writeSilence(timeline_.framesAt(Clock::now(), rate));
        else if (end < 0) writeSilence(timeline_.framesAt(stopMoment(), rate));
    }
    if (!abort_ && !failed && !refused && end > delivered_) {
        done = false;
        writeSilence(end - delivered_);
    } else if (!abort_ && !refused && overdue && haveFirst && end < 0) {
        done = false;
        writeSilence(std::max<int64_t>(timeline_.framesAt(stopMoment(), rate) - delivered_, 0));
    }
    // A device that fell silent without failing (a server that stopped feeding it) owed that
    // sound: it is missing, not quiet, and is reported as a gap from where it stopped.
    if (overdue && !abort_ && !refused) {
        const Clock::time_point reached = haveFirst ? captureTime(outFrames) : origin;
        const auto missing = std::chrono::duration_cast<std::chrono::milliseconds>(
            timeline_.at(stopMoment()) - timeline_.at(reached));
        if (missing.count() > FrameLossDetector::kThresholdSeconds * 1000) {
            std::lock_guard<std::mutex> g(lossLock_);
            if (gaps_++ == 0)
                firstGapAtMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(timeline_.at(reached)).count();
            gapMs_ += missing.count();
        }
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
