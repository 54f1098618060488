#include "engine/LiveSession.h"

#include <xcb/xcb.h>

#include <cstdlib>

#include "platform/x11/XConnection.h"
#include "settings/CaptureRules.h"
#include "settings/SettingsStore.h"

namespace torvane {

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name, uint16_t len) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, len, name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    std::free(r);
    return a;
}

// Restores a minimised window and raises it, the way a window manager is asked to.
void restoreAndRaise(x11::XConnection& conn, uint32_t window) {
    xcb_connection_t* c = conn.get();
    const xcb_atom_t active = internAtom(c, "_NET_ACTIVE_WINDOW", 18);
    xcb_map_window(c, window);
    if (active != XCB_NONE) {
        xcb_client_message_event_t ev{};
        ev.response_type = XCB_CLIENT_MESSAGE;
        ev.format = 32;
        ev.window = window;
        ev.type = active;
        ev.data.data32[0] = 2;   // from a pager-like tool: honoured without a user timestamp
        xcb_send_event(c, 0, conn.root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&ev));
    }
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(c);
}

}  // namespace

uint64_t lookUpLiveSession(QSettings& store) {
    const uint64_t window = readLiveSessionWindow(store);
    if (window == 0) return 0;
    std::string error;
    if (auto conn = x11::XConnection::open(&error); conn && conn->windowExists(uint32_t(window)))
        restoreAndRaise(*conn, uint32_t(window));
    return window;
}

bool applyLiveSessionGeometry(ScreenSettings& s, uint64_t window) {
    std::string error;
    auto conn = x11::XConnection::open(&error);
    ScreenRect r;
    if (!conn || window > 0xFFFFFFFFu || !conn->windowRect(uint32_t(window), r)) return false;
    ScreenSettings out = s;
    out.liveWindow = int32_t(uint32_t(window));
    r.right = r.left + roundUpTo4(r.width());
    r.bottom = r.top + roundUpTo4(r.height());
    out.rect = r;
    applyOutputSize(out);
    s = out;
    return true;
}

}  // namespace torvane
