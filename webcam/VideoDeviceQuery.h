#pragma once
// What loading the settings needs from the video devices, kept apart from the device lists so the
// settings can ask without depending on how devices are found.

#include <cstdint>
#include <functional>
#include <string>

namespace torvane {

// Whether any device exists, and the first one's friendly name and preferred resolution. The
// default answers "no video device".
struct VideoDeviceQuery {
    std::function<bool()> anyDevice = [] { return false; };
    // Fills name, width and height of the default device; false when there is none.
    std::function<bool(std::string& name, uint16_t& width, uint16_t& height)> defaultDevice =
        [](std::string&, uint16_t&, uint16_t&) { return false; };
};

}  // namespace torvane
