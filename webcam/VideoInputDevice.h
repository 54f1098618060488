#pragma once
// One webcam opened by its friendly name, delivering its newest picture to the capture loop and
// to the preview window.

#include <chrono>
#include <memory>
#include <string>

#include "platform/camera/CameraCapture.h"
#include "webcam/BaseCapture.h"

namespace torvane {

class CVideoInputDevice : public CBaseCapture {
public:
    // Opens the camera and sets it running; ok() tells whether that worked (error() says why).
    CVideoInputDevice(int width, int height, const std::string& deviceName, int frameRate);
    ~CVideoInputDevice() override;

    std::unique_ptr<WebcamFrame> latestFrame() override;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& deviceName() const { return name_; }
    bool waitFirstPicture(std::chrono::milliseconds timeout) { return ok_ && camera_.waitFirst(timeout); }
    // The newest picture when newer than `out` (for the preview window).
    bool copyNewest(camera::CameraPicture& out) { return camera_.copyNewest(out); }
    bool lostSince(std::chrono::steady_clock::time_point& when, std::string& why) {
        return ok_ && camera_.lostSince(when, why);
    }

private:
    std::string name_;
    camera::CameraCapture camera_;
    bool ok_ = false;
    std::string error_;
};

}  // namespace torvane
