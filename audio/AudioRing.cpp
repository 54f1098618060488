#include "audio/AudioRing.h"

#include <cstring>

namespace torvane {

CAudioRing::CAudioRing(int capacity) : data_(size_t(capacity > 0 ? capacity : 0)), capacity_(capacity > 0 ? capacity : 0) {}

int CAudioRing::fillLevelLocked() const {
    if (empty_) return 0;
    return last_ >= read_ ? last_ - read_ + 1 : capacity_ - read_ + last_ + 1;
}

int CAudioRing::fillLevel() const {
    std::lock_guard<std::recursive_mutex> g(lock_);
    return fillLevelLocked();
}

void CAudioRing::write(const void* bytes, int length) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (length <= 0 || length > capacity_) return;   // a block larger than the ring is dropped
    int fill = fillLevelLocked();
    int start, end;
    if (empty_) {
        start = 0;
        read_ = 0;
        empty_ = false;
        end = length - 1;
    } else {
        start = (last_ + 1) % capacity_;
        end = (start + length - 1) % capacity_;
    }
    auto* src = static_cast<const uint8_t*>(bytes);
    if (end < start) {
        std::memcpy(&data_[size_t(start)], src, size_t(capacity_ - start));
        std::memcpy(&data_[0], src + (capacity_ - start), size_t(end + 1));
    } else {
        std::memcpy(&data_[size_t(start)], src, size_t(length));
    }
    if (capacity_ - fill < length) read_ = (end + 1) % capacity_;   // overwrote the oldest bytes
    last_ = end;
}

bool CAudioRing::read(void* destination, int length) {
    std::lock_guard<std::recursive_mutex> g(lock_);
    if (length <= 0 || fillLevelLocked() < length) return false;
    auto* dst = static_cast<uint8_t*>(destination);
    int first = capacity_ - read_ < length ? capacity_ - read_ : length;
    std::memcpy(dst, &data_[size_t(read_)], size_t(first));
    if (first < length) std::memcpy(dst + first, &data_[0], size_t(length - first));
    read_ = (read_ + length) % capacity_;
    if (read_ == (last_ + 1) % capacity_) empty_ = true;
    return true;
}

}  // namespace torvane
