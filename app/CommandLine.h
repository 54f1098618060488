#pragma once
// The recorder's own command-line options, answered before any window or display is needed.
// Everything else on the command line (Qt's -platform, -display, ...) is left to the application object.

#include <optional>
#include <string>

namespace torvane {

// The --help text, ending with where the settings and the recordings go.
std::string recorderHelpText();

// Answers --help (-h) and --version on standard output; the process's exit code when one of them
// was given, nothing when the program should start as usual.
std::optional<int> answerInformationOptions(int argc, char** argv);

}  // namespace torvane
