#pragma once
// The webcams by friendly name, the sizes each offers as the Resolution list shows them, and the
// default webcam of a fresh settings record.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/camera/CameraDevices.h"
#include "webcam/VideoDeviceQuery.h"

namespace torvane {

struct ResolutionItem {
    std::string text;      // "640X480"
    uint32_t value = 0;    // height * 65536 + width
};

inline uint32_t packResolution(int width, int height) { return uint32_t(height) * 65536u + uint32_t(width); }

// Sizes within 1280 x 720, each once, in the device's order.
std::vector<ResolutionItem> resolutionItems(const std::vector<camera::CameraSize>& sizes);
// The item to select: "160X120" (case ignored) when listed, else the first; -1 when empty.
int defaultResolutionIndex(const std::vector<ResolutionItem>& items);

bool webcamPresent();
std::vector<std::string> listWebcams();
// The first device named exactly `name`: false when there is none. Fills its items and V4L2 node.
bool listResolutions(const std::string& name, std::vector<ResolutionItem>& items, std::string* v4l2Path = nullptr);
// The first device and its size: 160 x 120 when offered, else the last size within the limits.
// True only when 160 x 120 was found; `name` is filled whenever a device exists.
bool defaultWebcam(std::string& name, uint16_t& width, uint16_t& height);

// What loading the settings asks of the video devices, answered by the real device list.
VideoDeviceQuery videoDeviceQuery();

// "HD Camera: 640X480 320X240 160X120"
std::string webcamListLine(const std::string& name, const std::vector<ResolutionItem>& items);

}  // namespace torvane
