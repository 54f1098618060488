#pragma once
// The worker's own copy of the settings, taken at Start: a recording is not affected by later
// changes of the session's records.

#include "settings/CaptureSettings.h"

namespace torvane {

#pragma pack(push, 1)
struct WorkerSettings {
    ScreenSettings screen;
    CursorSettings cursor;
    WatermarkSettings watermark;
    WebcamSettings webcam;
    PipSettings pip;
};
#pragma pack(pop)
static_assert(sizeof(WorkerSettings) == 1044);

// The frame rate a recording runs at: webcam-only recordings always run at 24.
inline int effectiveFrameRate(const ScreenSettings& s) {
    return s.sourceKind == kSourceWebcam ? 24 : s.frameRate;
}

}  // namespace torvane
