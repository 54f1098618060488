#include "platform/x11/RedrawRequest.h"

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/x11/XConnection.h"

namespace torvane::x11 {

namespace {

xcb_visualid_t transparentVisual(const xcb_screen_t* screen) {
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
        if (d.data->depth != 32) continue;
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) return v.data->visual_id;
    }
    return 0;
}

// A round trip: everything sent before it has been handled by the server.
bool roundTrip(xcb_connection_t* c) {
    xcb_get_input_focus_reply_t* reply = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    std::free(reply);
    return reply != nullptr;
}

}  // namespace

bool requestRedraw(int x, int y, std::string* error) {
    std::unique_ptr<XConnection> x11 = XConnection::open(error);
    if (!x11) return false;
    xcb_connection_t* c = x11->get();
    const xcb_visualid_t visual = transparentVisual(x11->screen());
    if (!visual) {
        if (error) *error = "the X server has no 32-bit visual";
        return false;
    }
    const xcb_colormap_t colormap = xcb_generate_id(c);
    xcb_create_colormap(c, XCB_COLORMAP_ALLOC_NONE, colormap, x11->root(), visual);
    const xcb_window_t window = xcb_generate_id(c);
    // Background and border pixel 0 in a 32-bit visual: nothing shows. Override-redirect: no
    // window manager places, frames or focuses it.
    const uint32_t values[] = {0, 0, 1, colormap};
    xcb_generic_error_t* refused = xcb_request_check(
        c, xcb_create_window_checked(c, 32, window, x11->root(), int16_t(x), int16_t(y), 1, 1, 0,
                                     XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
                                     XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT |
                                         XCB_CW_COLORMAP,
                                     values));
    if (refused) {
        if (error) *error = "the X server refused the window (error " + std::to_string(refused->error_code) + ")";
        std::free(refused);
        xcb_free_colormap(c, colormap);
        return false;
    }
    xcb_map_window(c, window);
    const bool shown = roundTrip(c);
    // Long enough for the desktop to draw a frame with it; its removal is a second change anyway.
    if (shown) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    xcb_destroy_window(c, window);
    xcb_free_colormap(c, colormap);
    if (!roundTrip(c) || !shown) {
        if (error) *error = "the X server went away";
        return false;
    }
    return true;
}

}  // namespace torvane::x11
