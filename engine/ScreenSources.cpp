#include "engine/ScreenSources.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/wayland/ScreenCastPortal.h"
#include "platform/wayland/WaylandDesktop.h"
#include "platform/wayland/WaylandScreenSource.h"
#include "platform/x11/RedrawRequest.h"
#include "platform/x11/X11ScreenSource.h"
#include "settings/SettingsStore.h"

namespace torvane {

namespace {

// The desktop is asked once a program run; the session and its stream outlive each recording.
struct ScreenCast {
    std::unique_ptr<wayland::ScreenCastPortal> portal;
    std::shared_ptr<wayland::PipeWireStream> stream;
    ScreenRect monitor;
};

ScreenCast*& screenCast() {
    static ScreenCast* cast = nullptr;
    return cast;
}

void dropScreenCast() {
    delete screenCast();
    screenCast() = nullptr;
}

bool waylandSession() { return wayland::waylandDesktop(); }

// A compositor sends its first picture within a second; a loaded machine may take several.
constexpr int kFirstPictureMs = 10000;
constexpr int kRedrawAfterMs = 1000;

// Some desktops (wlroots) send a picture only when the screen changes: a still screen that another
// program already casts, or whose first picture was lost on the way, would send none. Each second
// without one, a transparent pixel shown for a moment at the monitor's corner makes the desktop
// draw again there, which changes nothing that is recorded.
bool waitFirstPicture(wayland::PipeWireStream& stream, int x, int y, std::string& why) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFirstPictureMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (stream.waitFirstPicture(int(std::clamp<int64_t>(left.count(), 0, kRedrawAfterMs)), &why)) return true;
        if (stream.ended() || std::chrono::steady_clock::now() >= until) return false;
        x11::requestRedraw(x, y);
    }
}

bool openScreenCast(std::string* error) {
    ScreenCast*& cast = screenCast();
    // A stream that ended (sharing stopped, compositor gone) is asked for anew.
    std::string why;
    if (cast && cast->stream->waitFirstPicture(0, &why)) return true;
    dropScreenCast();
    auto store = openSettingsStore();
    auto portal = std::make_unique<wayland::ScreenCastPortal>();
    wayland::ScreenCastGrant grant;
    bool declined = false;
    if (!portal->open(readScreenCastRestoreToken(*store), grant, why, declined)) {
        if (error)
            *error = declined ? "Recording was not started: screen sharing was declined."
                              : "Recording was not started: " + why + ".";
        return false;
    }
    if (!grant.restoreToken.empty()) writeScreenCastRestoreToken(*store, grant.restoreToken);
    std::shared_ptr<wayland::PipeWireStream> stream = wayland::PipeWireStream::open(grant.pipeWireFd, grant.node, &why);
    if (!stream || !waitFirstPicture(*stream, grant.x, grant.y, why)) {
        if (error) *error = "Recording was not started: " + why + ".";
        return false;
    }
    // The stream is in the monitor's device pixels; the portal may tell the size in the desktop's
    // logical units instead (a scaled monitor): the stream's own size is what is recorded.
    const int w = stream->width(), h = stream->height();
    cast = new ScreenCast{std::move(portal), std::move(stream), {grant.x, grant.y, grant.x + w, grant.y + h}};
    // Closed with the program's event loop still there, so the portal hears of it.
    static bool once = [] {
        qAddPostRoutine(dropScreenCast);
        return true;
    }();
    (void)once;
    return true;
}

}  // namespace

bool screenCastWanted() {
    static const bool wanted = waylandSession() && wayland::ScreenCastPortal::offered();
    return wanted;
}

ScreenPointer screenPointer(const ScreenSettings& screen) {
    const ScreenCast* cast = screenCast();
    if (screen.sourceKind == kSourceLiveSession || !screenCastWanted() || !cast) return ScreenPointer::Told;
    if (cast->portal->pointerAsMetadata()) return ScreenPointer::Told;
    return cast->portal->pointerEmbedded() ? ScreenPointer::Embedded : ScreenPointer::Absent;
}

bool screenCastMonitor(ScreenRect& monitor, std::string* error) {
    if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread()) {
        if (error) *error = "The screen cast portal must be asked from the program's main thread";
        return false;
    }
    if (!openScreenCast(error)) return false;
    monitor = screenCast()->monitor;
    return true;
}

std::unique_ptr<IScreenSource> openScreenSource(const ScreenSettings& screen, std::string* error) {
    // The live-session window is an X11 window: it is followed on X11 (XWayland) as before.
    if (screen.sourceKind != kSourceLiveSession && screenCastWanted()) {
        ScreenRect monitor;
        if (!screenCastMonitor(monitor, error)) return nullptr;
        ScreenCast& cast = *screenCast();
        return std::make_unique<wayland::WaylandScreenSource>(cast.stream, cast.monitor, screen.rect.width(),
                                                              screen.rect.height());
    }
    auto source = x11::X11ScreenSource::open(screen.rect.width(), screen.rect.height(), error);
    if (!source && error && screen.sourceKind == kSourceLiveSession && waylandSession())
        *error = "The live-session window is an X11 window, and no X server (XWayland) answers: " + *error;
    return source;
}

}  // namespace torvane
