#pragma once
// Whether the picture of a position would differ from the last one written, from what the screen
// source reports, so an unchanged position costs no grab, conversion or encoding.

#include <cstdint>

#include "platform/core/ScreenRect.h"
#include "settings/CaptureSettings.h"

namespace torvane {

// What the picture of one turn is made of.
struct PictureInputs {
    ScreenRect rect;              // the capture rectangle, desktop coordinates
    bool screenChanged = true;    // the source saw the screen inside `rect` change since its last grab
    bool pointerDrawn = false;    // the settings draw the pointer (arrow or highlight)
    bool pointerKnown = false;    // its position is known and on the desktop
    int pointerX = 0, pointerY = 0;
    uint64_t shapeSerial = 0;     // the source's pointer shape counter
};

class PictureChanges {
public:
    explicit PictureChanges(const CursorSettings& cursor) : cursor_(cursor) {}

    // The next picture is needed whatever the inputs (a run's first, after a lost one).
    void forget() { haveLast_ = false; }
    // Whether a picture made of `now` could differ from the last written one.
    bool changed(const PictureInputs& now) const;
    // What went into the last picture written; null when the next one is needed whatever.
    const PictureInputs* lastWritten() const { return haveLast_ ? &last_ : nullptr; }
    // `now` went into the picture just written.
    void written(const PictureInputs& now) {
        last_ = now;
        haveLast_ = true;
    }

private:
    // Whether the pointer as `in` has it touches `rect`.
    bool pointerTouches(const PictureInputs& in, const ScreenRect& rect) const;

    CursorSettings cursor_;
    PictureInputs last_;
    bool haveLast_ = false;
};

}  // namespace torvane
