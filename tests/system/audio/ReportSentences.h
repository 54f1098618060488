#pragma once
// A loss report with some of its sentences left out. Sentences are judged one by one: a source's
// share of a report is one line, and a sentence kept beside an excused one must still show.

#include <sstream>
#include <string>

template <typename Excused>
std::string reportWithout(const std::string& report, Excused excused) {
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
