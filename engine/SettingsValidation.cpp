#include "engine/SettingsValidation.h"

#include "engine/WorkerSettings.h"

namespace torvane {

std::string validateForRecording(const ScreenSettings& s) {
    if (s.sourceKind < kSourceFullScreen || s.sourceKind > kSourceLiveSession)
        return "The recording source " + std::to_string(s.sourceKind) +
               " is not known. Please choose what to record in the movie properties.";
    const int fps = effectiveFrameRate(s);
    if (fps < kMinFrameRate || fps > kMaxFrameRate)
        return "The frame rate " + std::to_string(fps) + " is not possible. Please choose between " +
               std::to_string(kMinFrameRate) + " and " + std::to_string(kMaxFrameRate) + " frames per second.";
    const int64_t w = int64_t(s.rect.right) - s.rect.left, h = int64_t(s.rect.bottom) - s.rect.top;
    if (s.sourceKind != kSourceWebcam && (w <= 0 || h <= 0 || w > kMaxCaptureSide || h > kMaxCaptureSide))
        return "The capture area " + std::to_string(w) + " x " + std::to_string(h) +
               " is not possible. Please mark the area to record again.";
    if (s.outputWidth < kMinOutputSide || s.outputHeight < kMinOutputSide || s.outputWidth > kMaxOutputSide ||
        s.outputHeight > kMaxOutputSide || s.outputWidth % 2 || s.outputHeight % 2)
        return "The video size " + std::to_string(s.outputWidth) + " x " + std::to_string(s.outputHeight) +
               " is not possible. Please choose the capture size again.";
    return {};
}

}  // namespace torvane
