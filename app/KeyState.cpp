#include "app/KeyState.h"

#include <QGuiApplication>
#include <xcb/xcb.h>

#include <cstdlib>

#include "platform/hook/HotkeyKeys.h"

namespace torvane {

ModifierState shortcutModifiers(intptr_t lParam) {
    if (lParam & kHotkeyStateKnown) return {(lParam & kHotkeyControl) != 0, (lParam & kHotkeyAlt) != 0};
    return queryServerModifiers();
}

ModifierState queryServerModifiers() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return {};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_query_pointer_reply_t* reply = xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr);
    if (!reply) return {};
    const ModifierState s{(reply->mask & XCB_MOD_MASK_CONTROL) != 0, (reply->mask & XCB_MOD_MASK_1) != 0};
    std::free(reply);
    return s;
}

}  // namespace torvane
