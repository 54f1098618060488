// torvane-record: records with the stored settings and the engine of the recorder, without windows.

#include <QCoreApplication>
#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/CaptureSession.h"
#include "engine/LiveSession.h"
#include "engine/RecordingFile.h"
#include "engine/ScreenSources.h"
#include "platform/core/StopSignals.h"
#include "platform/core/Version.h"
#include "platform/x11/Monitors.h"
#include "platform/x11/Screen.h"
#include "settings/SettingsStore.h"
#include "settings/StorageLocations.h"
#include "tools/torvane_record/RecordOptions.h"
#include "tools/torvane_record/RecordPlan.h"
#include "tools/torvane_record/Recorder.h"
#include "webcam/VideoDeviceEnum.h"

using namespace torvane;
using namespace torvane::record;

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void say(const std::string& text) { std::fprintf(stderr, "torvane-record: %s\n", text.c_str()); }

int fail(const std::string& text) {
    say(text);
    return kExitFailed;
}

// --repair FILE: rebuilds a cut-off or damaged recording in place.
int repair(const std::string& path) {
    std::string summary, error;
    if (!torvane::repairRecordingInPlace(path, summary, error)) return fail(error + "; nothing was recovered");
    say("repaired " + path + ": " + summary);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--repair") {
        if (argc != 3) return say("--repair takes one file and no other option"), kExitUsage;
        return repair(argv[2]);
    }
    const ParseOutcome parsed = parseRecordOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (parsed.kind) {
        case ParseOutcome::Help:
            std::fputs(usageText().c_str(), stdout);
            std::fputs(storageLocationsText().c_str(), stdout);
            return 0;
        case ParseOutcome::Version:
            std::puts("torvane-record " TORVANE_VERSION);
            return 0;
        case ParseOutcome::BadUsage:
            say(parsed.message);
            std::fputs(usageText().c_str(), stderr);
            return kExitUsage;
        case ParseOutcome::BadValue:
            say(parsed.message);
            return kExitUsage;
        case ParseOutcome::Run:
            break;
    }
    const RecordOptions& options = parsed.options;

    if (options.listMonitors) {
        std::string error;
        const std::vector<x11::Monitor> monitors = x11::listMonitors(&error);
        if (!error.empty()) return fail("cannot list the monitors: " + error);
        for (const x11::Monitor& m : monitors)
            std::printf("%s at +%d+%d%s\n", x11::monitorLabel(m).c_str(), m.rect.left, m.rect.top,
                        m.primary ? " (primary)" : "");
        return 0;
    }
    if (options.listWebcams) {
        for (const std::string& name : listWebcams()) {
            std::vector<ResolutionItem> items;
            listResolutions(name, items);
            std::printf("%s\n", webcamListLine(name, items).c_str());
        }
        return 0;
    }

    // The record as the movie properties dialog loads it.
    const VideoDeviceQuery devices = videoDeviceQuery();
    auto store = openSettingsStore();
    CaptureSettings settings = loadUsableCaptureSettings(*store, devices);
    if (std::string error; !applyRecordOptions(settings, options, devices.anyDevice(), error)) return fail(error);

    // The webcam's window needs a GUI application; everything else runs without one.
    std::unique_ptr<QCoreApplication> app;
    if (settings.screen.sourceKind == kSourceWebcam || settings.pip.on)
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    StopSignals stopSignals;
    if (std::string error; !stopSignals.install(error)) return fail(error);
    // The handshake the companion program performs, so the look-up below finds the window.
    if (options.window) writeLiveSessionWindow(*store, *options.window);
    x11::ScreenGeometry geometry;
    if (settings.screen.sourceKind == kSourceFullScreen && screenCastWanted()) {
        // The desktop's own dialog picks the monitor; it is recorded in its device pixels.
        if (options.monitor) say("on this Wayland desktop the desktop's own dialog picks the monitor; --monitor is not used");
        std::string error;
        if (!screenCastMonitor(geometry.screen, &error)) return fail(error);
        const ScreenRect& m = geometry.screen;
        say("the desktop shares a monitor of " + std::to_string(m.width()) + " × " + std::to_string(m.height()) +
            " pixels at +" + std::to_string(m.left) + "+" + std::to_string(m.top));
        geometry.workArea = geometry.screen;
    } else if (settings.screen.sourceKind == kSourceFullScreen) {
        std::string error;
        geometry = x11::queryScreenGeometry(settings.monitor, &error);
        if (!error.empty()) return fail("cannot measure the screen: " + error);
        if (!geometry.note.empty()) say(geometry.note);
    }
    computeCaptureGeometry(settings, geometry.screen, geometry.workArea);

    // The setters in the order the recorder window uses after the dialog's OK.
    CCaptureSession session;
    const bool setUp = session.setScreenSettings(settings.screen) && session.setSoundEnabled(settings.soundEnabled) &&
                       session.setSoundOption(static_cast<unsigned int>(settings.soundOption)) &&
                       session.setCursorSettings(settings.cursor) && session.setWebcamSettings(settings.webcam) &&
                       session.setPipSettings(settings.pip) && session.setWatermarkSettings(settings.watermark);
    if (!setUp) return fail(session.lastError());

    // What the recorder window does at Start before the countdown.
    std::string file;
    if (options.out) {
        file = *options.out;
    } else {
        if (documentsFolder().empty()) return fail("Could not get personal document folder");
        file = readCaptureFileName(*store);
    }
    if (file.empty()) return fail("Please select capture file");
    if (settings.screen.sourceKind == kSourceLiveSession) {
        const uint64_t window = lookUpLiveSession(*store);
        if (window == 0)
            return fail("You have selected to record an Torvane Live Session. \nTorvane Live however is not started."
                        "\n\n Please start it first and try again.");
        if (!applyLiveSessionGeometry(session.screenSettings(), window)) {
            char id[32];
            std::snprintf(id, sizeof id, "0x%llx", static_cast<unsigned long long>(window));
            return fail(std::string("cannot measure the live-session window ") + id + " (does it still exist?)");
        }
    }

    Recorder recorder(session, options.pauses, options.stopAfterMs, settings.screen.sourceKind);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &recorder, [&recorder](int number) {
        say(number == SIGINT ? "interrupted; stopping" : number == SIGHUP ? "hung up; stopping" : "terminated; stopping");
        recorder.finish(0);
    });
    if (!recorder.start(file)) return recorder.exitCode();
    app->exec();
    return recorder.exitCode();
}
