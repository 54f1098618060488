#pragma once
// The loss report without its late-positions and keeping-pace sentences: a busy test machine may
// make turns late, which the report rightly names, while nothing else may be lost. A sound clock that
// was corrected loses nothing either. Sentences are judged one by one: the sound's share of the
// report is one line, and a gap told beside a lag must still show.

#include <sstream>
#include <string>

inline std::string lossesBesidesLate(const std::string& report) {
    auto excused = [](const std::string& s) {
        return s.find("came too late") != std::string::npos || s.find("To keep pace") != std::string::npos ||
               s.find("ppm") != std::string::npos;
    };
    std::istringstream in(report);
    std::string line, rest;
    while (std::getline(in, line)) {
        std::string kept;
        for (size_t from = 0; from < line.size();) {
            size_t end = line.find(". ", from);
            end = end == std::string::npos ? line.size() : end + 1;
            const std::string sentence = line.substr(from, end - from);
            if (!excused(sentence)) kept += (kept.empty() ? "" : " ") + sentence;
            from = end;
            while (from < line.size() && line[from] == ' ') ++from;
        }
        if (!kept.empty()) rest += (rest.empty() ? "" : "\n") + kept;
    }
    return rest;
}
