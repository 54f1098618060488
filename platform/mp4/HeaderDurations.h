#pragma once
// A fragmented MP4 file's header is written before its fragments and gives no length: its movie and
// track durations are set in place, so readers that go by the header alone see the whole file.

#include <cstdint>

namespace torvane::mp4 {

// Sets the movie and track durations of the header at the start of the open file `fd` (of `size`
// bytes) to `seconds`. False when the header is not there or cannot be written.
bool setHeaderDurations(int fd, uint64_t size, double seconds);

}  // namespace torvane::mp4
