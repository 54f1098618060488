#include "platform/camera/CameraDevices.h"
#include "platform/camera/CameraFormat.h"

#include <gst/gst.h>

#include <mutex>

namespace torvane::camera {

namespace {

void appendSizes(const GstStructure* s, std::vector<CameraSize>& out) {
    const GValue* w = gst_structure_get_value(s, "width");
    const GValue* h = gst_structure_get_value(s, "height");
    if (!w || !h) return;
    // Lists of sizes are paired in order; ranges name no particular size and are left out.
    auto ints = [](const GValue* v) {
        std::vector<int> r;
        if (G_VALUE_HOLDS_INT(v)) {
            r.push_back(g_value_get_int(v));
        } else if (GST_VALUE_HOLDS_LIST(v)) {
            for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
                const GValue* e = gst_value_list_get_value(v, i);
                if (G_VALUE_HOLDS_INT(e)) r.push_back(g_value_get_int(e));
            }
        }
        return r;
    };
    const std::vector<int> ws = ints(w), hs = ints(h);
    if (ws.size() == 1) {
        for (int hh : hs) out.push_back({ws[0], hh});
    } else if (hs.size() == 1) {
        for (int ww : ws) out.push_back({ww, hs[0]});
    } else {
        for (size_t i = 0; i < ws.size() && i < hs.size(); ++i) out.push_back({ws[i], hs[i]});
    }
}

std::string stringProperty(GstDevice* d, const char* key) {
    GstStructure* props = gst_device_get_properties(d);
    if (!props) return {};
    const gchar* v = gst_structure_get_string(props, key);
    std::string r = v ? v : "";
    gst_structure_free(props);
    return r;
}

// Walks the devices in monitor order; `visit` returns false to stop.
template <typename F>
void walkDevices(F&& visit) {
    if (!ensureGstreamer()) return;
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    // Without starting it the monitor probes each provider once, leaving out hidden providers.
    GList* devices = gst_device_monitor_get_devices(monitor);
    bool go = true;
    for (GList* l = devices; l && go; l = l->next) go = visit(GST_DEVICE(l->data));
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
}

}  // namespace

bool ensureGstreamer() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = gst_init_check(nullptr, nullptr, nullptr); });
    return ok;
}

std::vector<CameraSize> capsSizes(GstDevice* device) {
    std::vector<CameraSize> out;
    GstCaps* caps = gst_device_get_caps(device);
    if (!caps) return out;
    // Only the sizes of pictures the capture can read: another format's size could not be delivered.
    for (guint i = 0; i < gst_caps_get_size(caps); ++i)
        if (readableFormat(gst_caps_get_structure(caps, i))) appendSizes(gst_caps_get_structure(caps, i), out);
    gst_caps_unref(caps);
    return out;
}

std::vector<CameraInfo> listCameras() {
    std::vector<CameraInfo> out;
    walkDevices([&out](GstDevice* d) {
        gchar* name = gst_device_get_display_name(d);
        if (name && *name) {
            CameraInfo info;
            info.name = name;
            info.sizes = capsSizes(d);
            info.v4l2Path = stringProperty(d, "api.v4l2.path");
            if (info.v4l2Path.empty()) info.v4l2Path = stringProperty(d, "device.path");
            out.push_back(std::move(info));
        }
        g_free(name);
        return true;
    });
    return out;
}

GstDevice* findCamera(const std::string& name) {
    GstDevice* found = nullptr;
    walkDevices([&](GstDevice* d) {
        gchar* n = gst_device_get_display_name(d);
        const bool match = n && name == n;
        g_free(n);
        if (match) found = GST_DEVICE(gst_object_ref(d));
        return !match;
    });
    return found;
}

}  // namespace torvane::camera
