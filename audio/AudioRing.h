#pragma once
// Ring through which the microphone thread hands its sound to the system-sound thread, by position
// on the track (sample frames from the recording's start; both sources count the same way). Keeps
// the newest `capacity` bytes; a frame the ring does not hold (not written yet, skipped, or older
// than what it keeps) reads as silence, so a reader mixes each frame where it belongs.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace torvane {

class CAudioRing {
public:
    // capacity in bytes, kept as whole frames of `blockAlign` bytes.
    explicit CAudioRing(int capacity, int blockAlign = 4);

    // The frames of `bytes` at `position` on; positions that were skipped before them read as
    // silence. A write before the end replaces what the ring holds there.
    void write(int64_t position, const void* bytes, int length);
    // The frames [position, position + frames) into `destination`, silence where the ring holds
    // none. Returns how many of them lie in the stretch it keeps, before its end.
    int read(int64_t position, void* destination, int frames) const;
    // The position after the last frame written (0 before the first).
    int64_t end() const;
    // The writer is done: nothing more will come, a reader need not wait for it.
    void close();
    bool closed() const;

    int capacity() const { return capacity_; }
    int blockAlign() const { return blockAlign_; }

private:
    size_t offsetOf(int64_t position) const;

    std::vector<uint8_t> data_;
    int capacity_;
    int blockAlign_;
    int64_t frames_;      // frames the ring holds at most
    int64_t begin_ = 0;   // the oldest frame held
    int64_t end_ = 0;     // after the newest frame written
    bool any_ = false;
    bool closed_ = false;
    mutable std::mutex lock_;
};

}  // namespace torvane
