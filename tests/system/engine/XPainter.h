#pragma once
// Puts known content on the test display: plain coloured windows at given places, pointer moves.

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

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
    // A plain window of one colour inside `parent`, at (x, y) of it: it moves with its parent.
    uint32_t child(uint32_t parent, int x, int y, int w, int h, uint32_t rgb) {
        const uint32_t id = xcb_generate_id(conn_);
        xcb_create_window(conn_, XCB_COPY_FROM_PARENT, id, parent, int16_t(x), int16_t(y), uint16_t(w), uint16_t(h), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, XCB_CW_BACK_PIXEL, &rgb);
        xcb_map_window(conn_, id);
        sync();
        return id;
    }
    // Pointer shapes of the server's cursor font.
    static constexpr uint16_t kCrosshair = 34, kLeftArrow = 68;
    // Shows that shape while the pointer is over the window.
    void setCursor(uint32_t id, uint16_t shape) {
        if (!cursorFont_) {
            cursorFont_ = xcb_generate_id(conn_);
            xcb_open_font(conn_, cursorFont_, 6, "cursor");
        }
        const uint32_t cursor = xcb_generate_id(conn_);
        xcb_create_glyph_cursor(conn_, cursor, cursorFont_, cursorFont_, shape, uint16_t(shape + 1), 0, 0, 0, 0xFFFF,
                                0xFFFF, 0xFFFF);
        xcb_change_window_attributes(conn_, id, XCB_CW_CURSOR, &cursor);
        xcb_free_cursor(conn_, cursor);
        sync();
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
    uint32_t cursorFont_ = 0;
};

// A small square moving in a corner while it lives: every position holds a picture, as on a busy
// screen, so which picture first shows a change is not a question of change tracking.
class MovingSquare {
public:
    MovingSquare()
        : mover_([this] {
              XPainter m;
              const uint32_t sq = m.window(0, 0, 8, 8, 0x808080);
              for (int i = 0; running_.load(); ++i) {
                  m.move(sq, (i * 3) % 40, 0);
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
              m.destroy(sq);
          }) {}
    ~MovingSquare() {
        running_.store(false);
        mover_.join();
    }

private:
    std::atomic<bool> running_{true};
    std::thread mover_;
};
