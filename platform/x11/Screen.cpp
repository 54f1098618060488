#include "platform/x11/Screen.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/x11/Monitors.h"
#include "platform/x11/XConnection.h"

namespace torvane::x11 {

namespace {

bool primaryOutputRect(xcb_connection_t* c, xcb_window_t root, ScreenRect& rect) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
    if (!ext || !ext->present) return false;
    auto* primary = xcb_randr_get_output_primary_reply(c, xcb_randr_get_output_primary(c, root), nullptr);
    if (!primary) return false;
    xcb_randr_output_t output = primary->output;
    std::free(primary);
    if (output == XCB_NONE) return false;
    auto* info = xcb_randr_get_output_info_reply(c, xcb_randr_get_output_info(c, output, XCB_CURRENT_TIME), nullptr);
    if (!info) return false;
    xcb_randr_crtc_t crtc = info->crtc;
    std::free(info);
    if (crtc == XCB_NONE) return false;
    auto* ci = xcb_randr_get_crtc_info_reply(c, xcb_randr_get_crtc_info(c, crtc, XCB_CURRENT_TIME), nullptr);
    if (!ci) return false;
    rect = {ci->x, ci->y, ci->x + ci->width, ci->y + ci->height};
    const bool ok = ci->width > 0 && ci->height > 0;
    std::free(ci);
    return ok;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : XCB_NONE;
    std::free(r);
    return a;
}

// _NET_WORKAREA holds one (x, y, w, h) per desktop; the current desktop's is the one in use.
bool workArea(xcb_connection_t* c, xcb_window_t root, ScreenRect& rect) {
    xcb_atom_t wa = atom(c, "_NET_WORKAREA");
    if (wa == XCB_NONE) return false;
    uint32_t desktop = 0;
    if (xcb_atom_t cur = atom(c, "_NET_CURRENT_DESKTOP"); cur != XCB_NONE) {
        auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, root, cur, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        if (r && xcb_get_property_value_length(r) >= 4)
            desktop = *static_cast<uint32_t*>(xcb_get_property_value(r));
        std::free(r);
    }
    auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, root, wa, XCB_ATOM_CARDINAL, 0, 4096), nullptr);
    if (!r) return false;
    const int n = xcb_get_property_value_length(r) / 4;
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
    bool ok = false;
    if (n >= 4) {
        const uint32_t i = (uint32_t(n / 4) > desktop) ? desktop * 4 : 0;
        rect = {int32_t(v[i]), int32_t(v[i + 1]), int32_t(v[i] + v[i + 2]), int32_t(v[i + 1] + v[i + 3])};
        ok = rect.width() > 0 && rect.height() > 0;
    }
    std::free(r);
    return ok;
}

}  // namespace

ScreenGeometry queryScreenGeometry(std::string* error) { return queryScreenGeometry(std::string(), error); }

ScreenGeometry queryScreenGeometry(const std::string& monitor, std::string* error) {
    ScreenGeometry g;
    auto conn = XConnection::open(error);
    if (!conn) return g;
    if (monitor.empty()) {
        if (!primaryOutputRect(conn->get(), conn->root(), g.screen)) g.screen = conn->rootRect();
    } else {
        const MonitorChoice choice = chooseMonitor(listMonitors(error), monitor, conn->rootRect());
        g.screen = choice.rect;
        g.note = choice.note;
    }
    // The work area spans every monitor: the part on the screen measured.
    ScreenRect area;
    if (workArea(conn->get(), conn->root(), area)) {
        g.workArea = {std::max(area.left, g.screen.left), std::max(area.top, g.screen.top),
                      std::min(area.right, g.screen.right), std::min(area.bottom, g.screen.bottom)};
    }
    if (g.workArea.width() <= 0 || g.workArea.height() <= 0) g.workArea = g.screen;
    return g;
}

}  // namespace torvane::x11
