#pragma once
// The loss report without its late-positions and keeping-pace sentences: a busy test machine may
// make turns late, which the report rightly names, while nothing else may be lost. A sound clock that
// was corrected loses nothing either.

#include <string>

#include "../audio/ReportSentences.h"

inline std::string lossesBesidesLate(const std::string& report) {
    return reportWithout(report, [](const std::string& s) {
        return s.find("came too late") != std::string::npos || s.find("To keep pace") != std::string::npos ||
               s.find("ppm") != std::string::npos;
    });
}
