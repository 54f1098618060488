#pragma once
// A private XCB connection. Every request is checked through its reply, so an error (a window that
// vanished) comes back as a result instead of going to the process-wide Xlib error handler.

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/ScreenRect.h"

namespace torvane::x11 {

class XConnection {
public:
    // Null and `error` filled when $DISPLAY cannot be opened.
    static std::unique_ptr<XConnection> open(std::string* error);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    xcb_connection_t* get() const { return conn_; }
    xcb_window_t root() const { return screen_->root; }
    const xcb_screen_t* screen() const { return screen_; }
    ScreenRect rootRect() const { return {0, 0, screen_->width_in_pixels, screen_->height_in_pixels}; }

    // The pointer position in root coordinates; false when the pointer is on another screen.
    bool pointer(int& x, int& y) const;
    bool windowExists(uint32_t window) const;
    // The window's outer rectangle in root coordinates (size from its geometry, position translated
    // to the root, so it is right under reparenting window managers).
    bool windowRect(uint32_t window, ScreenRect& rect) const;

private:
    XConnection(xcb_connection_t* c, const xcb_screen_t* s) : conn_(c), screen_(s) {}
    xcb_connection_t* conn_;
    const xcb_screen_t* screen_;
};

}  // namespace torvane::x11
