#pragma once
// The loss report without its late-positions and keeping-pace lines: a busy test machine may make
// turns late, which the report rightly names, while nothing else may be lost. A sound clock that was corrected loses
// nothing either.

#include <sstream>
#include <string>

inline std::string lossesBesidesLate(const std::string& report) {
    std::istringstream in(report);
    std::string line, rest;
    while (std::getline(in, line))
        if (line.find("came too late") == std::string::npos && line.find("To keep pace") == std::string::npos &&
            line.find("ppm") == std::string::npos) rest += (rest.empty() ? "" : "\n") + line;
    return rest;
}
