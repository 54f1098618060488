#pragma once
// A source of webcam pictures for the capture loop.

#include <cstdint>
#include <memory>
#include <vector>

namespace torvane {

// One webcam picture: bottom-up 24-bit BGR rows, tightly packed (width * 3 bytes a row).
struct WebcamFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> data;
};

class CBaseCapture {
public:
    virtual ~CBaseCapture() = default;
    // A copy of the most recent picture, or null while none has arrived.
    virtual std::unique_ptr<WebcamFrame> latestFrame() = 0;
};

}  // namespace torvane
