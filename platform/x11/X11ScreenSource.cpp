#include "platform/x11/X11ScreenSource.h"

#include <cstdlib>

namespace torvane::x11 {

std::unique_ptr<X11ScreenSource> X11ScreenSource::open(int width, int height, std::string* error) {
    auto grabber = ScreenGrabber::open(width, height, error);
    if (!grabber) return nullptr;
    return std::unique_ptr<X11ScreenSource>(new X11ScreenSource(std::move(grabber)));
}

X11ScreenSource::X11ScreenSource(std::unique_ptr<ScreenGrabber> g) : grabber_(std::move(g)) {
    // TORVANE_NO_DAMAGE=1 records as a server without Damage would: every picture grabbed.
    const char* off = std::getenv("TORVANE_NO_DAMAGE");
    if (!off || std::string(off) != "1")
        watch_ = ChangeWatch::open(grabber_->connection().get(), grabber_->connection().root());
}

ScreenRect X11ScreenSource::rectAt(int x, int y) {
    const QImage& p = grabber_->picture();
    return {x, y, x + p.width(), y + p.height()};
}

bool X11ScreenSource::changedSince(int x, int y) {
    if (!watch_ || !grabbed_ || x != grabX_ || y != grabY_) return true;
    return watch_->changed();
}

bool X11ScreenSource::grab(int x, int y) {
    const ScreenRect rect = rectAt(x, y);
    // A screen that changed size: grabs are clipped to the new one. Without the watch, a grab reaching
    // off the screen asks each time, as the screen may have grown back.
    const ScreenRect& screen = grabber_->screenRect();
    if (watch_ ? watch_->takeScreenResized()
               : rect.left < screen.left || rect.top < screen.top || rect.right > screen.right || rect.bottom > screen.bottom)
        grabber_->refreshScreen();
    if (watch_) watch_->beginGrab(rect);
    grabbed_ = grabber_->grab(x, y);
    grabX_ = x;
    grabY_ = y;
    if (grabbed_) return true;
    if (watch_) watch_->grabFailed();
    error_ = xcb_connection_has_error(grabber_->connection().get()) ? "The connection to the X server was lost"
                                                                     : "The X server refused the screen grab";
    return false;
}

bool X11ScreenSource::pointer(int& x, int& y) { return grabber_->connection().pointer(x, y); }

bool X11ScreenSource::windowRect(uint32_t window, ScreenRect& rect) {
    XConnection& conn = grabber_->connection();
    return conn.windowExists(window) && conn.windowRect(window, rect);
}

}  // namespace torvane::x11
