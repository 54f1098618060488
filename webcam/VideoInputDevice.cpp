#include "webcam/VideoInputDevice.h"

namespace torvane {

CVideoInputDevice::CVideoInputDevice(int width, int height, const std::string& deviceName, int frameRate)
    : name_(deviceName) {
    ok_ = camera_.open(deviceName, width, height, frameRate, error_);
}

CVideoInputDevice::~CVideoInputDevice() = default;

std::unique_ptr<WebcamFrame> CVideoInputDevice::latestFrame() {
    camera::CameraPicture picture;
    if (!ok_ || !camera_.copyNewest(picture)) return nullptr;
    auto frame = std::make_unique<WebcamFrame>();
    frame->width = picture.width;
    frame->height = picture.height;
    frame->data = std::move(picture.bgr);
    return frame;
}

}  // namespace torvane
