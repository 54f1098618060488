#pragma once
// The recording clock: recorded time stands still while paused, and a picture's position in the
// video stream is the recorded time in whole frame periods.

#include <cstdint>

namespace torvane {

// Recorded milliseconds at tick `now` of a run that began at tick `segmentStart`, after
// `recordedBefore` ms of earlier runs. Tick differences wrap like the tick counter.
inline uint64_t recordedAt(uint32_t recordedBefore, uint32_t segmentStart, uint32_t now) {
    return uint64_t(recordedBefore) + uint32_t(now - segmentStart);
}

// Position of a picture taken `recordedMs` into the recording (truncated to whole periods).
// 64-bit, so long recordings at high rates do not wrap.
inline int64_t framePosition(uint64_t recordedMs, int frameRate) {
    return int64_t(recordedMs * uint64_t(frameRate) / 1000);
}

// First recorded millisecond that belongs to position `position` (the inverse, rounded up).
inline uint64_t positionStartMs(int64_t position, int frameRate) {
    return (uint64_t(position) * 1000 + uint64_t(frameRate) - 1) / uint64_t(frameRate);
}

}  // namespace torvane
