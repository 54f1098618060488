#include "platform/x11/XConnection.h"

#include <cstdlib>

namespace torvane::x11 {

namespace {
template <class T>
struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter<T>>;
}  // namespace

std::unique_ptr<XConnection> XConnection::open(std::string* error) {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        if (error) {
            const char* d = std::getenv("DISPLAY");
            *error = std::string("Cannot open the X display ") + (d && *d ? d : "(DISPLAY is not set)");
        }
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(c);
        if (error) *error = "The X display has no screen";
        return nullptr;
    }
    return std::unique_ptr<XConnection>(new XConnection(c, it.data));
}

XConnection::~XConnection() { xcb_disconnect(conn_); }

bool XConnection::pointer(int& x, int& y) const {
    Reply<xcb_query_pointer_reply_t> r(
        xcb_query_pointer_reply(conn_, xcb_query_pointer(conn_, root()), nullptr));
    if (!r || !r->same_screen) return false;
    x = r->root_x;
    y = r->root_y;
    return true;
}

bool XConnection::windowExists(uint32_t window) const {
    if (window == 0) return false;
    xcb_generic_error_t* err = nullptr;
    Reply<xcb_get_window_attributes_reply_t> r(
        xcb_get_window_attributes_reply(conn_, xcb_get_window_attributes(conn_, window), &err));
    std::free(err);
    return r != nullptr;
}

bool XConnection::windowRect(uint32_t window, ScreenRect& rect) const {
    if (window == 0) return false;
    xcb_generic_error_t* err = nullptr;
    auto geomCookie = xcb_get_geometry(conn_, window);
    auto transCookie = xcb_translate_coordinates(conn_, window, root(), 0, 0);
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(conn_, geomCookie, &err));
    std::free(err);
    err = nullptr;
    Reply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(conn_, transCookie, &err));
    std::free(err);
    if (!g || !t) return false;
    // The border belongs to the window as the user sees it.
    const int bw = g->border_width;
    rect.left = t->dst_x - bw;
    rect.top = t->dst_y - bw;
    rect.right = rect.left + g->width + 2 * bw;
    rect.bottom = rect.top + g->height + 2 * bw;
    return true;
}

}  // namespace torvane::x11
