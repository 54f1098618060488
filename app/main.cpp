#include "app/CommandLine.h"
#include "app/TorvaneRecorderApp.h"

int main(int argc, char** argv) {
    if (const auto answered = torvane::answerInformationOptions(argc, argv)) return *answered;
    torvane::CTorvaneRecorderApp app(argc, argv);
    return app.run();
}
