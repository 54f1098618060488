#include "platform/hook/ScreenCapture.h"

#include <QObject>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/hook/GlobalKeyGrabber.h"

namespace {

std::mutex g_lock;
torvane::GlobalKeyGrabber g_grabber;

}  // namespace

extern "C" __attribute__((visibility("default"))) int Hook(void* window, const char* programPath) {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!window) return 0;
    std::string problems;
    const bool ok = g_grabber.start(static_cast<QObject*>(window), problems);
    if (!problems.empty()) {
        std::fprintf(stderr, "%s: global shortcuts: %s%s", programPath && *programPath ? programPath : "ScreenCapture",
                     problems.c_str(), ok ? "" : "The shortcuts still work while this program has the focus.\n");
    }
    return ok ? 1 : 0;
}

extern "C" __attribute__((visibility("default"))) int Unhook(void) {
    std::lock_guard<std::mutex> guard(g_lock);
    const bool wasRunning = g_grabber.running();
    g_grabber.stop();
    return wasRunning ? 1 : 0;
}
