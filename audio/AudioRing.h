#pragma once
// Byte ring through which the microphone thread hands its blocks to the system-sound thread.
// Keeps the newest `capacity` bytes; a read of more than the fill level takes nothing.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace torvane {

class CAudioRing {
public:
    explicit CAudioRing(int capacity);
    void write(const void* bytes, int length);
    bool read(void* destination, int length);
    int fillLevel() const;
    int capacity() const { return capacity_; }

private:
    int fillLevelLocked() const;
    std::vector<uint8_t> data_;
    int capacity_;
    int read_ = 0;
    int last_ = 0;
    bool empty_ = true;
    mutable std::recursive_mutex lock_;
};

}  // namespace torvane
