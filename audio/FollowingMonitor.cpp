#include "audio/FollowingMonitor.h"

#include <algorithm>
#include <cstring>

namespace torvane {

void RecordedSink::set(const std::string& name) {
    std::lock_guard<std::mutex> g(m_);
    if (name == name_) return;
    name_ = name;
    ++generation_;
}

std::string RecordedSink::get(uint64_t* generation) const {
    std::lock_guard<std::mutex> g(m_);
    if (generation) *generation = generation_;
    return name_;
}

std::unique_ptr<CFollowingMonitorInput> CFollowingMonitorInput::open(const pulse::StreamSpec& spec,
                                                                    uint32_t fragmentBytes, size_t maxBuffered,
                                                                    std::string* error) {
    std::unique_ptr<CFollowingMonitorInput> in(new CFollowingMonitorInput());
    in->spec_ = spec;
    in->fragment_ = fragmentBytes;
    in->maxBuffered_ = maxBuffered;
    in->frameBytes_ = uint32_t(spec.channels) * (spec.format == pulse::SampleFormat::kU8 ? 1 : 2);
    in->watch_ = pulse::DefaultSinkWatch::open(error);
    if (!in->watch_) return nullptr;
    in->seenGeneration_ = in->watch_->generation();
    std::string sink = in->watch_->defaultSink();
    if (sink.empty()) {
        if (error) *error = "no default sound output device";
        return nullptr;
    }
    in->stream_ = in->openMonitor(sink, error);
    if (!in->stream_) return nullptr;
    in->sink_ = sink;
    in->recorded_->set(sink);
    return in;
}

std::unique_ptr<pulse::Stream> CFollowingMonitorInput::openMonitor(const std::string& sink, std::string* error) {
    pulse::SinkMonitor mon;
    if (!pulse::sinkMonitor(sink, &mon, error)) return nullptr;
    return pulse::Stream::open(pulse::Stream::Direction::kRecord, mon.monitor, spec_, fragment_, maxBuffered_,
                               "Torvane system sound", error);
}

bool CFollowingMonitorInput::follow(bool currentFailed) {
    uint64_t g = watch_->generation();
    if (g == seenGeneration_) return !currentFailed;
    seenGeneration_ = g;
    std::string sink = watch_->defaultSink();
    if (sink.empty() || sink == sink_) return !currentFailed;
    std::string why;
    auto next = openMonitor(sink, &why);
    if (!next) {
        // Stay on the old output while it still delivers; the next change tries again.
        std::lock_guard<std::mutex> g2(m_);
        if (currentFailed) error_ = "cannot follow the new sound output: " + why;
        return !currentFailed;
    }
    {
        std::lock_guard<std::mutex> g2(m_);
        stream_ = std::move(next);
        if (interrupted_) stream_->interrupt();
    }
    sink_ = sink;
    recorded_->set(sink);
    placeNext_ = haveFirst_;
    ++switches_;
    return true;
}

size_t CFollowingMonitorInput::takeHeld(uint8_t* dst, size_t maxBytes) {
    size_t n = 0;
    if (zerosDue_ > 0) {
        size_t z = std::min<size_t>(size_t(zerosDue_) * frameBytes_, maxBytes);
        z -= z % frameBytes_;
        std::memset(dst, spec_.format == pulse::SampleFormat::kU8 ? 0x80 : 0, z);
        zerosDue_ -= int64_t(z / frameBytes_);
        n = z;
    }
    if (zerosDue_ == 0 && heldOffset_ < held_.size()) {
        size_t h = std::min(held_.size() - heldOffset_, maxBytes - n);
        h -= h % frameBytes_;
        std::memcpy(dst + n, held_.data() + heldOffset_, h);
        heldOffset_ += h;
        n += h;
        if (heldOffset_ >= held_.size()) {
            held_.clear();
            heldOffset_ = 0;
        }
    }
    return n;
}

int CFollowingMonitorInput::read(void* dst, size_t maxBytes, int timeoutMs) {
    auto* out = static_cast<uint8_t*>(dst);
    maxBytes -= maxBytes % frameBytes_;
    if (maxBytes == 0) return 0;
    if (size_t n = takeHeld(out, maxBytes)) {
        framesOut_ += int64_t(n / frameBytes_);
        return int(n);
    }
    if (!follow(false)) return -1;
    int n = stream_->read(out, maxBytes, timeoutMs);
    if (n < 0) {
        // A removed output ends its monitor stream; the server then names another default.
        if (!watch_->failed() && follow(true)) return 0;
        return -1;
    }
    if (n == 0) return 0;
    if (!haveFirst_) {
        haveFirst_ = stream_->firstCaptureTime(&first_);
        if (!haveFirst_) {
            first_ = Clock::now() - std::chrono::microseconds(int64_t(n / frameBytes_) * 1000000 / spec_.rate);
            haveFirst_ = true;
        }
    } else if (placeNext_) {
        placeNext_ = false;
        Clock::time_point t;
        if (!stream_->firstCaptureTime(&t)) t = Clock::now();
        int64_t due = std::chrono::duration_cast<std::chrono::microseconds>(t - first_).count() *
                      int64_t(spec_.rate) / 1000000;
        int64_t gap = due - framesOut_;
        if (gap > 0) {
            // Silence for the switch first, then this data.
            held_.assign(out, out + n);
            heldOffset_ = 0;
            zerosDue_ = gap;
            n = int(takeHeld(out, maxBytes));
        } else if (gap < 0) {
            dropDue_ = -gap;   // the new stream begins before the old one ended
        }
    }
    if (dropDue_ > 0 && n > 0) {
        int64_t frames = n / int64_t(frameBytes_);
        int64_t drop = std::min(dropDue_, frames);
        std::memmove(out, out + drop * frameBytes_, size_t((frames - drop) * frameBytes_));
        n = int((frames - drop) * frameBytes_);
        dropDue_ -= drop;
    }
    framesOut_ += n / int64_t(frameBytes_);
    return n;
}

bool CFollowingMonitorInput::firstCaptureTime(Clock::time_point* t) const {
    if (!haveFirst_) return false;
    *t = first_;
    return true;
}

void CFollowingMonitorInput::interrupt() {
    std::lock_guard<std::mutex> g(m_);
    interrupted_ = true;
    if (stream_) stream_->interrupt();
}

std::string CFollowingMonitorInput::error() const {
    std::lock_guard<std::mutex> g(m_);
    if (!error_.empty()) return error_;
    return stream_ ? stream_->error() : std::string();
}

CFollowingSilence::CFollowingSilence(std::shared_ptr<RecordedSink> sink) : sink_(std::move(sink)) { reopen(); }

void CFollowingSilence::reopen() {
    name_ = sink_->get(&generation_);
    out_.reset();
    std::string ignored;
    pulse::StreamSpec spec;   // 44100 Hz, 2 channels, 16 bits
    // About 170 ms queued: plenty to keep the stream playing between the player's turns.
    out_ = pulse::Stream::open(pulse::Stream::Direction::kPlayback, name_, spec, 1920 * 16, 0, "Torvane silence",
                               &ignored);
    if (out_) out_->writeSilence(1920 * 16);
}

int CFollowingSilence::writeSilence(size_t maxBytes) {
    uint64_t g = 0;
    sink_->get(&g);
    if (g != generation_) reopen();
    // Without a stream it waits for the next output; the monitor also delivers while nothing plays.
    return out_ ? out_->writeSilence(maxBytes) : 0;
}

}  // namespace torvane
