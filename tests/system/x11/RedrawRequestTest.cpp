// The redraw request shows a 1 x 1 window where asked, only for a moment, and fails cleanly where
// no X server answers. (That it leaves no mark on the picture is checked on the Wayland desktop.)

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <set>
#include <string>

#include "platform/x11/RedrawRequest.h"

namespace {

struct Seen {
    int x = -1, y = -1, width = 0, height = 0;
    bool overrideRedirect = false;
};

std::set<xcb_window_t> children(xcb_connection_t* c, xcb_window_t root) {
    std::set<xcb_window_t> out;
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
    if (!tree) return out;
    const xcb_window_t* w = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) out.insert(w[i]);
    std::free(tree);
    return out;
}

}  // namespace

TEST(RedrawRequest, ShowsAOnePixelWindowWhereAskedAndLeavesNothingBehind) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    // The server reports every window made, shown and removed on the root: nothing is missed
    // however briefly it is there.
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    const std::set<xcb_window_t> before = children(c, root);

    std::string error;
    const bool ok = torvane::x11::requestRedraw(37, 21, &error);
    ASSERT_TRUE(ok) << error;
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    Seen seen;
    xcb_window_t made = 0;
    bool mapped = false, destroyed = false;
    while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
        switch (e->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            auto* n = reinterpret_cast<xcb_create_notify_event_t*>(e);
            made = n->window;
            seen = {n->x, n->y, n->width, n->height, n->override_redirect != 0};
            break;
        }
        case XCB_MAP_NOTIFY: mapped |= reinterpret_cast<xcb_map_notify_event_t*>(e)->window == made; break;
        case XCB_DESTROY_NOTIFY: destroyed |= reinterpret_cast<xcb_destroy_notify_event_t*>(e)->window == made; break;
        }
        std::free(e);
    }
    EXPECT_NE(made, 0u);
    EXPECT_TRUE(mapped);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(seen.x, 37);
    EXPECT_EQ(seen.y, 21);
    EXPECT_EQ(seen.width, 1);
    EXPECT_EQ(seen.height, 1);
    EXPECT_TRUE(seen.overrideRedirect) << "a managed window would be placed, framed or focused";
    EXPECT_EQ(children(c, root), before);
    xcb_disconnect(c);
}

TEST(RedrawRequest, WithoutAnXServerItFailsAndSaysWhy) {
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    setenv("DISPLAY", ":9999", 1);
    std::string error;
    EXPECT_FALSE(torvane::x11::requestRedraw(0, 0, &error));
    EXPECT_NE(error.find(":9999"), std::string::npos) << error;
    setenv("DISPLAY", display.c_str(), 1);
}
