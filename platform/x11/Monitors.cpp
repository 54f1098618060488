#include "platform/x11/Monitors.h"

#include <xcb/randr.h>

#include <cstdlib>

#include "platform/x11/XConnection.h"

namespace torvane::x11 {

std::vector<Monitor> listMonitors(std::string* error) {
    std::vector<Monitor> out;
    auto conn = XConnection::open(error);
    if (!conn) return out;
    xcb_connection_t* c = conn->get();
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
    if (!ext || !ext->present) return out;
    auto* reply = xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, conn->root(), 1), nullptr);
    if (!reply) return out;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(reply); it.rem; xcb_randr_monitor_info_next(&it)) {
        const xcb_randr_monitor_info_t* m = it.data;
        Monitor monitor;
        if (auto* name = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, m->name), nullptr)) {
            monitor.name.assign(xcb_get_atom_name_name(name), size_t(xcb_get_atom_name_name_length(name)));
            std::free(name);
        }
        monitor.rect = {m->x, m->y, m->x + m->width, m->y + m->height};
        monitor.primary = m->primary != 0;
        if (monitor.rect.width() > 0 && monitor.rect.height() > 0) out.push_back(std::move(monitor));
    }
    std::free(reply);
    return out;
}

std::string monitorLabel(const Monitor& m) {
    return m.name + " \u2014 " + std::to_string(m.rect.width()) + " \u00d7 " + std::to_string(m.rect.height());
}

MonitorChoice chooseMonitor(const std::vector<Monitor>& monitors, const std::string& choice, const ScreenRect& root) {
    if (monitors.empty()) return {root, "", ""};
    if (choice == kAllMonitors) return {root, kAllMonitors, ""};
    const Monitor* primary = &monitors.front();
    for (const Monitor& m : monitors) {
        if (m.primary) primary = &m;
    }
    if (choice.empty()) return {primary->rect, primary->name, ""};
    for (const Monitor& m : monitors) {
        if (m.name == choice) return {m.rect, m.name, ""};
    }
    return {primary->rect, primary->name,
            "The monitor " + choice + " is not connected; recording the primary monitor (" + monitorLabel(*primary) +
                ") instead."};
}

}  // namespace torvane::x11
