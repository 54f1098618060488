// A pointer for a Wayland desktop without input devices, driven from standard input, one command
// a line, each answered with "ok" once the compositor has it:
//   move X Y W H   the pointer to (X, Y) of a W x H box spread over the whole desktop (logical units)
//   down | up      the left button
// Tests drive native Wayland windows with it, as xdotool drives X11 ones.
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <sstream>
#include <string>

#include "virtual-pointer-client.h"

namespace {

wl_seat* seat = nullptr;
zwlr_virtual_pointer_manager_v1* manager = nullptr;

void global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
}
void globalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry{global, globalRemove};

uint32_t now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint32_t(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

constexpr uint32_t kLeftButton = 0x110;   // BTN_LEFT

}  // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "virtual-pointer: no Wayland display\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, nullptr);
    wl_display_roundtrip(display);
    if (!manager) {
        std::fprintf(stderr, "virtual-pointer: the compositor offers no virtual pointer\n");
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    wl_display_roundtrip(display);
    std::cout << "ok" << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string what;
        in >> what;
        if (what == "move") {
            uint32_t x = 0, y = 0, w = 0, h = 0;
            if (!(in >> x >> y >> w >> h) || w == 0 || h == 0) {
                std::cout << "error: move X Y W H" << std::endl;
                continue;
            }
            zwlr_virtual_pointer_v1_motion_absolute(pointer, now(), x, y, w, h);
        } else if (what == "down" || what == "up") {
            zwlr_virtual_pointer_v1_button(pointer, now(), kLeftButton, what == "down" ? 1 : 0);
        } else {
            std::cout << "error: unknown command " << what << std::endl;
            continue;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0) {
            std::fprintf(stderr, "virtual-pointer: the compositor went away\n");
            return 1;
        }
        std::cout << "ok" << std::endl;
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
