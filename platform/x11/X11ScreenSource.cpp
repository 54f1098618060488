#include "platform/x11/X11ScreenSource.h"

namespace torvane::x11 {

std::unique_ptr<X11ScreenSource> X11ScreenSource::open(int width, int height, std::string* error) {
    auto grabber = ScreenGrabber::open(width, height, error);
    if (!grabber) return nullptr;
    return std::unique_ptr<X11ScreenSource>(new X11ScreenSource(std::move(grabber)));
}

bool X11ScreenSource::grab(int x, int y) {
    if (grabber_->grab(x, y)) return true;
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
