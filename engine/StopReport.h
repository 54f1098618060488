#pragma once
// The sentence that tells the user why a recording stopped by itself and how much the file holds.

#include <cstdint>
#include <string>

#include "engine/CaptureRun.h"

namespace torvane {

// `err` is the errno of the first failed write (0 when unknown); `detail` the failure's own text
// (the writer's or the screen source's). `recordedMs` is the length the file holds.
std::string describeStop(StopFault fault, int err, const std::string& detail, uint64_t recordedMs);

// "12.4 s", "3 min 05 s", "1 h 02 min 05 s".
std::string recordedLength(uint64_t ms);

}  // namespace torvane
