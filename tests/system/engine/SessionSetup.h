#pragma once
// A session set up for a silent recording of one area of the test display.

#include <cstdlib>
#include <string>

#include "engine/CaptureSession.h"
#include "settings/CaptureRules.h"

namespace torvane::test {

// Where a test's recordings go: the test environment's own folder.
inline std::string outDir() {
    const char* d = std::getenv("TORVANE_TEST_ENV");
    return d ? d : "/tmp";
}

inline ScreenSettings areaSettings(ScreenRect r, int fps, int sizeChoice = 0) {
    ScreenSettings s;
    s.sourceKind = kSourceArea;
    s.rect = r;
    s.frameRate = fps;
    s.sizeChoice = sizeChoice;
    applyOutputSize(s);
    return s;
}

inline CursorSettings noCursor() {
    CursorSettings c;
    c.captureCursor = 0;
    return c;
}

inline bool prepare(CCaptureSession& s, const ScreenSettings& screen, const CursorSettings& cursor = noCursor()) {
    return s.setScreenSettings(screen) && s.setSoundEnabled(0) && s.setSoundOption(0) &&
           s.setCursorSettings(cursor) && s.setWebcamSettings({}) && s.setPipSettings({}) &&
           s.setWatermarkSettings({});
}

}  // namespace torvane::test
