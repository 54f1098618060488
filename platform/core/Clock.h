#pragma once
// A millisecond clock that wraps at 2^32, like the system tick counters the recording clock is
// built on. Differences of two readings are right across the wrap when taken as uint32_t.

#include <chrono>
#include <cstdint>

namespace torvane {

inline uint32_t tickMilliseconds() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace torvane
