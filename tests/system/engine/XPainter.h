#pragma once
// Puts known content on the test display: plain coloured windows at given places, pointer moves.

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <string>

class XPainter {
public:
    XPainter() {
        conn_ = xcb_connect(nullptr, nullptr);
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data;
    }
    ~XPainter() { xcb_disconnect(conn_); }
    bool ok() const { return !xcb_connection_has_error(conn_); }

    // An override-redirect window of one colour (0xRRGGBB): no window manager moves it.
    uint32_t window(int x, int y, int w, int h, uint32_t rgb, bool overrideRedirect = true) {
        const uint32_t id = xcb_generate_id(conn_);
        const uint32_t values[] = {rgb, overrideRedirect ? 1u : 0u};
        xcb_create_window(conn_, XCB_COPY_FROM_PARENT, id, screen_->root, int16_t(x), int16_t(y), uint16_t(w),
                          uint16_t(h), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(conn_, id);
        sync();
        return id;
    }
    void move(uint32_t id, int x, int y) {
        const uint32_t v[] = {uint32_t(x), uint32_t(y)};
        xcb_configure_window(conn_, id, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, v);
        sync();
    }
    void setColour(uint32_t id, uint32_t rgb) {
        xcb_change_window_attributes(conn_, id, XCB_CW_BACK_PIXEL, &rgb);
        xcb_clear_area(conn_, 0, id, 0, 0, 0, 0);
        sync();
    }
    void destroy(uint32_t id) {
        xcb_destroy_window(conn_, id);
        sync();
    }
    void warpPointer(int x, int y) {
        xcb_warp_pointer(conn_, XCB_NONE, screen_->root, 0, 0, 0, 0, int16_t(x), int16_t(y));
        sync();
    }
    void sync() { std::free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr)); }

private:
    xcb_connection_t* conn_;
    xcb_screen_t* screen_;
};
