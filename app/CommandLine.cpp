#include "app/CommandLine.h"

#include <cstdio>
#include <cstring>

#include "platform/core/Version.h"
#include "settings/StorageLocations.h"

namespace torvane {

std::string recorderHelpText() {
    return "usage: TorvaneRecorder [--help | --version]\n"
           "Opens the Torvane Live Screen Recorder window: New... sets up a recording, Start records after a\n"
           "five-second countdown while the window waits in the notification area, Ctrl+Alt+S stops,\n"
           "Ctrl+Alt+P pauses and resumes, Ctrl+Alt+I shows or hides the webcam picture in picture.\n"
           "For recordings without a window see torvane-record(1).\n"
           "  --help     this text\n"
           "  --version  print the version\n" +
           storageLocationsText();
}

std::optional<int> answerInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(recorderHelpText().c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("TorvaneRecorder " TORVANE_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

}  // namespace torvane
