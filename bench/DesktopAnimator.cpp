// Desktop-like content for benchmarks: a wallpaper and a few windows with text-like lines, and
// what changes on it by workload (only the changed part is put on the screen, as programs do):
//   desktop-animator [still|field|region|typing|scroll|motion|noise]   (default motion)
//   still   nothing changes after the first drawing
//   field   a 300 x 40 field (a clock) changes five times a second
//   region  one 200 x 200 animation (a ball bouncing over stripes) redrawn 30 times a second
//   typing  a terminal: eight characters a second, the caret blinking twice a second
//   scroll  a long document in a large window moved by one wheel step (three lines) ten times a second
//   motion  the whole screen redrawn 30 times a second: a window dragged across it, a scrolling text
//   noise   every pixel random, 30 times a second: the largest pictures an encoder makes (big files)

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

struct Painter {
    xcb_connection_t* c;
    xcb_drawable_t d;
    xcb_gcontext_t gc;
    void fill(uint32_t rgb, int x, int y, int w, int h) {
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &rgb);
        xcb_rectangle_t r{int16_t(x), int16_t(y), uint16_t(w), uint16_t(h)};
        xcb_poly_fill_rectangle(c, d, gc, 1, &r);
    }
    // Lines of "words": short dark bars, like text in a document.
    void text(int x, int y, int w, int h, int seed) {
        std::vector<xcb_rectangle_t> words;
        for (int line = 0; line * 18 + 14 < h; ++line) {
            int cx = x + 8;
            unsigned s = unsigned(seed * 7919 + line * 104729);
            while (true) {
                s = s * 1103515245u + 12345u;
                const int len = 12 + int((s >> 16) % 60);
                if (cx + len > x + w - 8) break;
                words.push_back({int16_t(cx), int16_t(y + line * 18 + 4), uint16_t(len), 10});
                cx += len + 6;
            }
        }
        uint32_t ink = 0x202428;
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &ink);
        xcb_poly_fill_rectangle(c, d, gc, uint32_t(words.size()), words.data());
    }
    void window(int x, int y, int w, int h, uint32_t title, int seed) {
        fill(0x888888, x - 1, y - 1, w + 2, h + 2);
        fill(title, x, y, w, 24);
        fill(0xF4F4F0, x, y + 24, w, h - 24);
        text(x, y + 28, w, h - 32, seed);
    }
};
}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "desktop-animator: no display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const int W = screen->width_in_pixels, H = screen->height_in_pixels;
    const xcb_window_t win = xcb_generate_id(c);
    const uint32_t values[] = {0x000000, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, win, screen->root, 0, 0, uint16_t(W), uint16_t(H), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT,
                      values);
    xcb_map_window(c, win);
    const xcb_pixmap_t back = xcb_generate_id(c);
    xcb_create_pixmap(c, screen->root_depth, back, win, uint16_t(W), uint16_t(H));
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, win, 0, nullptr);
    Painter p{c, back, gc};

    const std::string mode = argc > 1 ? argv[1] : "motion";
    if (mode != "still" && mode != "field" && mode != "region" && mode != "typing" && mode != "scroll" &&
        mode != "motion" && mode != "noise") {
        std::fprintf(stderr, "desktop-animator: unknown workload %s\n", mode.c_str());
        return 2;
    }
    auto show = [&](int x, int y, int w, int h) {
        xcb_copy_area(c, back, win, gc, int16_t(x), int16_t(y), int16_t(x), int16_t(y), uint16_t(w), uint16_t(h));
    };
    auto desktop = [&] {
        for (int y = 0; y < H; y += 40) p.fill(0x1E3C5A + uint32_t((y * 3) & 0x3F), 0, y, W, 40);
        p.window(W / 20, H / 12, W / 3, H / 2, 0x3465A4, 1);
        p.window(W / 2, H / 10, W / 3, H / 3, 0x4E9A06, 2);
        p.window(W / 2, H / 2, W / 3, H / 3, 0x75507B, 3);
        p.fill(0x2E3436, 0, H - 32, W, 32);
    };
    // The terminal and the document of their workloads.
    const int tx = W / 20, ty = H / 12 + 24, tw = W / 3, th = H / 2 - 24;
    const int dx = W / 2, dy = H / 10, dw = W / 3, dh = H * 3 / 4;

    // Noise is put in strips that fit a request without the big-requests extension.
    const int strip = std::max(1, int((xcb_get_maximum_request_length(c) * 4 - 64) / (uint32_t(W) * 4)));
    std::vector<uint32_t> noise(size_t(W) * size_t(strip));
    uint64_t state = 0x9E3779B97F4A7C15ull;

    const auto start = std::chrono::steady_clock::now();
    for (int frame = 0; !stopRequested; ++frame) {
        if (mode == "noise") {
            for (int y = 0; y < H; y += strip) {
                const int rows = std::min(strip, H - y);
                for (size_t i = 0; i < size_t(W) * size_t(rows); ++i) {
                    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
                    noise[i] = uint32_t(state);
                }
                xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, win, gc, uint16_t(W), uint16_t(rows), 0, int16_t(y), 0,
                              screen->root_depth, uint32_t(size_t(W) * size_t(rows) * 4),
                              reinterpret_cast<const uint8_t*>(noise.data()));
            }
        } else if (mode == "motion") {
            // Wallpaper gradient bands.
            for (int y = 0; y < H; y += 40) p.fill(0x1E3C5A + uint32_t((y * 3) & 0x3F), 0, y, W, 40);
            p.window(W / 20, H / 12, W / 3, H / 2, 0x3465A4, 1);
            p.window(W / 2, H / 10, W / 3, H / 3, 0x4E9A06, 2);
            // A scrolling document.
            p.window(W / 2, H / 2, W / 3, H / 3, 0x75507B, 3 + frame / 2);
            // A window dragged across the screen.
            const int mx = (frame * 9) % (W - W / 4), my = H / 3 + ((frame * 4) % (H / 3));
            p.window(mx, my, W / 4, H / 4, 0xCC0000, 4);
            // The taskbar with a clock-like changing block.
            p.fill(0x2E3436, 0, H - 32, W, 32);
            p.fill(0xEEEEEC - uint32_t(frame % 60), W - 120, H - 26, 100, 20);
            show(0, 0, W, H);
        } else if (frame == 0) {
            desktop();
            if (mode == "typing") p.fill(0x101010, tx, ty, tw, th);
            if (mode == "scroll") p.window(dx, dy, dw, dh, 0x5C3566, 5);
            show(0, 0, W, H);
        } else if (mode == "field" && frame % 6 == 0) {
            const int fx = W - 320, fy = H - 36;
            p.fill(0x2E3436, fx, fy, 300, 40);
            p.fill(0xEEEEEC, fx + 4 + (frame / 6) % 200, fy + 8, 96, 24);
            show(fx, fy, 300, 40);
        } else if (mode == "region") {
            const int rx = W / 2 - 100, ry = H / 2 - 100;
            for (int i = 0; i < 10; ++i) p.fill(i % 2 ? 0xF0E0C0 : 0xC0D0F0, rx, ry + i * 20, 200, 20);
            const int bx = std::abs((frame * 7) % 320 - 160), by = std::abs((frame * 5) % 320 - 160);
            p.fill(0xCC3300, rx + bx, ry + by, 40, 40);
            show(rx, ry, 200, 200);
        } else if (mode == "typing") {
            // Characters 8 px wide on 18 px lines; a new page when the terminal is full.
            const int perLine = (tw - 16) / 9, lines = (th - 8) / 18;
            const int typed = frame * 8 / 30, caretOn = (frame / 15) % 2;
            const int col = typed % perLine, line = (typed / perLine) % lines;
            if (col == 0 && line == 0 && frame * 8 % 30 < 8) {
                p.fill(0x101010, tx, ty, tw, th);
                show(tx, ty, tw, th);
            }
            const int cx = tx + 8 + col * 9, cy = ty + 4 + line * 18;
            if (frame * 8 % 30 < 8) {
                p.fill(0xD0D0D0, cx - 9, cy, 8, 12);   // the character just typed
                show(cx - 9, cy, 9, 14);
            }
            if (frame % 15 == 0 || frame * 8 % 30 < 8) {
                p.fill(caretOn ? 0x40FF40 : 0x101010, cx, cy, 8, 14);
                show(cx, cy, 8, 14);
            }
        } else if (mode == "scroll" && frame % 3 == 0) {
            // Each wheel step moves the document by three 18 px lines: a new seed per line keeps
            // the text moving up rather than changing in place.
            const int step = frame / 3;
            p.fill(0xF4F4F0, dx, dy + 24, dw, dh - 24);
            const int first = step * 3;
            for (int line = 0; line * 18 + 14 < dh - 32; ++line) p.text(dx, dy + 28 + line * 18, dw, 18, first + line);
            show(dx, dy + 24, dw, dh - 24);
        }
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        std::this_thread::sleep_until(start + std::chrono::microseconds(33333LL * (frame + 1)));
    }
    xcb_disconnect(c);
    return 0;
}
