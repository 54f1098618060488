#pragma once
// Cameras that exist only in this test process: a device provider registered with GStreamer, so
// the device monitor lists them exactly as it lists a real camera (name, caps, node path).

#include <gst/gst.h>

#include <string>
#include <vector>

#include "platform/camera/CameraDevices.h"

namespace dialogtest {

struct TestCamera {
    std::string name;
    std::string caps;   // e.g. "video/x-raw,width=640,height=480; video/x-raw,width=320,height=240"
    std::string path;   // the V4L2 node it claims, "" for none
    std::string element;   // what capturing it runs, e.g. "videotestsrc is-live=true" or a chain; "" = nothing
};

inline std::vector<TestCamera>& testCameras() {
    static std::vector<TestCamera> cameras;
    return cameras;
}

namespace detail {

inline GstElement* createElement(GstDevice* device, const gchar* name) {
    gchar* display = gst_device_get_display_name(device);
    std::string description;
    for (const auto& c : testCameras())
        if (display && c.name == display) description = c.element;
    g_free(display);
    if (description.empty()) return nullptr;
    // A chain ("videotestsrc ! jpegenc") becomes one element with the chain's output as its pad.
    GstElement* element = description.find('!') == std::string::npos
                              ? gst_parse_launch(description.c_str(), nullptr)
                              : gst_parse_bin_from_description(description.c_str(), TRUE, nullptr);
    if (element && name) gst_object_set_name(GST_OBJECT(element), name);
    return element;
}

inline void deviceClassInit(gpointer klass, gpointer) { GST_DEVICE_CLASS(klass)->create_element = createElement; }

inline GType testDeviceType() {
    static const GType type = g_type_register_static_simple(GST_TYPE_DEVICE, "TorvaneTestCamera", sizeof(GstDeviceClass),
                                                            deviceClassInit, sizeof(GstDevice), nullptr, GTypeFlags(0));
    return type;
}

inline GList* probe(GstDeviceProvider*) {
    GList* devices = nullptr;
    for (const auto& c : testCameras()) {
        GstCaps* caps = gst_caps_from_string(c.caps.c_str());
        GstStructure* props = gst_structure_new_empty("properties");
        if (!c.path.empty()) gst_structure_set(props, "device.path", G_TYPE_STRING, c.path.c_str(), nullptr);
        auto* device = GST_DEVICE(g_object_new(testDeviceType(), "display-name", c.name.c_str(), "caps", caps,
                                               "device-class", "Video/Source", "properties", props, nullptr));
        gst_caps_unref(caps);
        gst_structure_free(props);
        devices = g_list_append(devices, gst_object_ref_sink(device));
    }
    return devices;
}

inline void providerClassInit(gpointer klass, gpointer) {
    auto* provider = GST_DEVICE_PROVIDER_CLASS(klass);
    provider->probe = probe;
    gst_device_provider_class_set_static_metadata(provider, "Test cameras", "Source/Video", "Cameras of this test",
                                                  "Torvane");
}

}  // namespace detail

// Registers the provider once; the cameras listed are whatever testCameras() holds at the time.
inline bool registerTestCameraProvider() {
    static const bool ok = [] {
        if (!torvane::camera::ensureGstreamer()) return false;
        const GType type = g_type_register_static_simple(GST_TYPE_DEVICE_PROVIDER, "TorvaneTestCameraProvider",
                                                         sizeof(GstDeviceProviderClass), detail::providerClassInit,
                                                         sizeof(GstDeviceProvider), nullptr, GTypeFlags(0));
        return gst_device_provider_register(nullptr, "torvanetestcameras", GST_RANK_PRIMARY, type) != FALSE;
    }();
    return ok;
}

}  // namespace dialogtest
