#include "engine/StopReport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace torvane {

std::string recordedLength(uint64_t ms) {
    char text[64];
    const uint64_t s = ms / 1000;
    if (s < 60)
        std::snprintf(text, sizeof text, "%.1f s", double(ms) / 1000.0);
    else if (s < 3600)
        std::snprintf(text, sizeof text, "%u min %02u s", unsigned(s / 60), unsigned(s % 60));
    else
        std::snprintf(text, sizeof text, "%u h %02u min %02u s", unsigned(s / 3600), unsigned(s / 60 % 60),
                      unsigned(s % 60));
    return text;
}

std::string describeStop(StopFault fault, int err, const std::string& detail, uint64_t recordedMs) {
    std::string what;
    switch (fault) {
    case StopFault::None: return {};
    case StopFault::FileWrite:
        if (err == ENOSPC || err == EDQUOT)
            what = "The disk is full.";
        else if (err == EFBIG)
            what = "The file has reached the largest size its disk allows.";
        else
            what = "The file could not be written (" + (err ? std::string(std::strerror(err)) : detail) + ").";
        break;
    case StopFault::ScreenLost:
        what = "The screen could not be read any more (" + (detail.empty() ? std::string("no reason given") : detail) +
               ").";
        break;
    }
    if (recordedMs == 0) return what + " The recording stopped before anything was recorded.";
    return what + " The recording stopped after " + recordedLength(recordedMs) +
           "; the file holds what was recorded until then.";
}

}  // namespace torvane
