#pragma once
// The cameras of the computer, as the desktop's device monitor lists them ("Video/Source").

#include <cstdint>
#include <string>
#include <vector>

typedef struct _GstDevice GstDevice;

namespace torvane::camera {

struct CameraSize {
    int width = 0;
    int height = 0;
    bool operator==(const CameraSize&) const = default;
};

struct CameraInfo {
    std::string name;                 // the display name, which is the friendly name
    std::vector<CameraSize> sizes;    // every fixed size of its caps, in the device's order, repeats kept
    std::string v4l2Path;             // the V4L2 node behind it, when there is one
};

// Starts GStreamer once for the process; false when it cannot be initialised.
bool ensureGstreamer();

// All cameras in the monitor's order. A provider that another provider covers is hidden, so a
// V4L2 camera that PipeWire also publishes is listed once.
std::vector<CameraInfo> listCameras();

// The first camera named exactly `name` (a new reference the caller unrefs), or null.
GstDevice* findCamera(const std::string& name);

// The fixed sizes in a device's caps of the formats the capture reads, in order (repeats kept).
std::vector<CameraSize> capsSizes(GstDevice* device);

}  // namespace torvane::camera
