#pragma once
// The loss report without its late-positions and keeping-pace sentences: a busy test machine may
// make turns late, which the report rightly names, while nothing else may be lost. A sound clock that
// was corrected loses nothing either.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "../audio/ReportSentences.h"

inline std::string lossesBesidesLate(const std::string& report) {
    return reportWithout(report, [](const std::string& s) {
        return s.find("came too late") != std::string::npos || s.find("To keep pace") != std::string::npos ||
               s.find("ppm") != std::string::npos;
    });
}

// The larger of the two sources' losses when both lost sound from the same second on (the server's
// doing, not one device's), and nothing else is reported; 0 otherwise.
inline int64_t serverStallMs(const std::string& report) {
    // The loss and the second its first gap began, from the sentence that starts with `start`.
    struct Loss {
        long ms = -1;
        int at = -1;
    };
    std::string rest = lossesBesidesLate(report);
    auto take = [&](const std::string& start) {
        Loss loss;
        const size_t from = rest.find(start), first = rest.find(", the first at ", from);
        const size_t to = rest.find("stays in step.", from);
        int h = 0, m = 0, sec = 0;
        if (from == std::string::npos || first == std::string::npos || to == std::string::npos ||
            std::sscanf(rest.c_str() + from + start.size(), "%ld", &loss.ms) != 1 ||
            std::sscanf(rest.c_str() + first, ", the first at %d:%d:%d", &h, &m, &sec) != 3)
            return Loss{};
        loss.at = (h * 60 + m) * 60 + sec;
        rest.erase(from, to + std::strlen("stays in step.") - from);
        return loss;
    };
    const Loss mic = take("The microphone lost "), system = take("The system sound recording lost ");
    if (mic.ms < 0 || system.ms < 0 || mic.at != system.at) return 0;
    if (rest.find_first_not_of(" \n") != std::string::npos) return 0;   // something else was lost too
    return std::max(mic.ms, system.ms);
}
