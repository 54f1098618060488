#pragma once
// Where the settings and the recordings go, as the last lines of both programs' --help print it.

#include <string>

namespace torvane {

// "Settings: <file>" and "Recordings: <file or default>" lines, each ending in a newline. Reads the
// store but creates nothing (no settings file, no documents folder).
std::string storageLocationsText();

}  // namespace torvane
