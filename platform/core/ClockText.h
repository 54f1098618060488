#pragma once
// A length of recorded time as reports show it: "00:01:04.4" (hours, minutes, seconds and tenths).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace torvane {

inline std::string clockText(double seconds) {
    const long tenths = std::lround(std::max(0.0, seconds) * 10);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld.%ld", tenths / 36000, tenths / 600 % 60, tenths / 10 % 60,
                  tenths % 10);
    return buf;
}

}  // namespace torvane
