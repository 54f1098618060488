#include "platform/mp4/HeaderDurations.h"

#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace torvane::mp4 {

namespace {
uint32_t read32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
}  // namespace

bool setHeaderDurations(int fd, uint64_t size, double seconds) {
    std::vector<uint8_t> head(std::min<uint64_t>(size, 64 * 1024));
    if (::pread(fd, head.data(), head.size(), 0) != ssize_t(head.size())) return false;
    auto put32 = [&](size_t at, uint64_t value) {
        const uint8_t b[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
        return ::pwrite(fd, b, 4, off_t(at)) == 4;
    };
    uint32_t timescale = 0;
    bool ok = true;
    // Walks the boxes of [from, to), descending into the movie and its tracks.
    auto walk = [&](auto&& self, size_t from, size_t to) -> void {
        for (size_t at = from; at + 8 <= to;) {
            const uint32_t boxSize = read32(&head[at]);
            if (boxSize < 8 || boxSize > to - at) return;
            const std::string type(reinterpret_cast<const char*>(&head[at + 4]), 4);
            if (type == "moov" || type == "trak") self(self, at + 8, at + boxSize);
            const bool v0 = boxSize >= 32 && head[at + 8] == 0;   // 32-bit times
            if (type == "mvhd" && v0) {
                timescale = read32(&head[at + 20]);
                if (timescale) ok = put32(at + 24, uint64_t(seconds * timescale + 0.5)) && ok;
            }
            if (type == "tkhd" && v0 && timescale) ok = put32(at + 28, uint64_t(seconds * timescale + 0.5)) && ok;
            at += boxSize;
        }
    };
    walk(walk, 0, head.size());
    return ok && timescale != 0;
}

}  // namespace torvane::mp4
