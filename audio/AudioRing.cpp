#include "audio/AudioRing.h"

#include <algorithm>
#include <cstring>

namespace torvane {

CAudioRing::CAudioRing(int capacity, int blockAlign)
    : capacity_(std::max(capacity, 0)), blockAlign_(std::max(blockAlign, 1)), frames_(capacity_ / blockAlign_) {
    data_.assign(size_t(frames_) * size_t(blockAlign_), 0);
}

size_t CAudioRing::offsetOf(int64_t position) const {
    return size_t(position % frames_) * size_t(blockAlign_);
}

void CAudioRing::write(int64_t position, const void* bytes, int length) {
    const int64_t frames = length > 0 ? length / blockAlign_ : 0;
    if (frames <= 0 || frames_ <= 0 || position < 0) return;
    std::lock_guard<std::mutex> g(lock_);
    auto* src = static_cast<const uint8_t*>(bytes);
    int64_t from = position;
    int64_t count = frames;
    if (count > frames_) {   // only the newest frames fit
        src += size_t(count - frames_) * size_t(blockAlign_);
        from += count - frames_;
        count = frames_;
    }
    // A skipped stretch is silence: clear what the ring would otherwise still hold there.
    if (any_ && from > end_) {
        for (int64_t p = std::max(end_, from - frames_); p < from;) {
            const int64_t run = std::min(from - p, frames_ - p % frames_);
            std::memset(&data_[offsetOf(p)], 0, size_t(run) * size_t(blockAlign_));
            p += run;
        }
    }
    for (int64_t p = from, done = 0; done < count;) {
        const int64_t run = std::min(count - done, frames_ - p % frames_);
        std::memcpy(&data_[offsetOf(p)], src + size_t(done) * size_t(blockAlign_), size_t(run) * size_t(blockAlign_));
        p += run;
        done += run;
    }
    if (!any_) {
        begin_ = from;
        any_ = true;
    } else {
        begin_ = std::min(begin_, from);
    }
    end_ = std::max(end_, from + count);
    begin_ = std::max(begin_, end_ - frames_);
}

int CAudioRing::read(int64_t position, void* destination, int frames) const {
    if (frames <= 0) return 0;
    auto* dst = static_cast<uint8_t*>(destination);
    std::memset(dst, 0, size_t(frames) * size_t(blockAlign_));
    std::lock_guard<std::mutex> g(lock_);
    if (!any_) return 0;
    const int64_t from = std::max(position, begin_);
    const int64_t to = std::min(position + frames, end_);
    for (int64_t p = from; p < to;) {
        const int64_t run = std::min(to - p, frames_ - p % frames_);
        std::memcpy(dst + size_t(p - position) * size_t(blockAlign_), &data_[offsetOf(p)], size_t(run) * size_t(blockAlign_));
        p += run;
    }
    return to > from ? int(to - from) : 0;
}

int64_t CAudioRing::end() const {
    std::lock_guard<std::mutex> g(lock_);
    return end_;
}

void CAudioRing::close() {
    std::lock_guard<std::mutex> g(lock_);
    closed_ = true;
}

bool CAudioRing::closed() const {
    std::lock_guard<std::mutex> g(lock_);
    return closed_;
}

}  // namespace torvane
