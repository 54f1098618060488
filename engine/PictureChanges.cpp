#include "engine/PictureChanges.h"

#include "engine/CursorOverlay.h"

namespace torvane {

bool PictureChanges::pointerTouches(const PictureInputs& in, const ScreenRect& rect) const {
    if (!in.pointerDrawn || !in.pointerKnown) return false;
    const ScreenRect f = cursorFootprint(cursor_, in.pointerX, in.pointerY);
    return f.left < f.right && f.top < f.bottom && f.left < rect.right && f.right > rect.left &&
           f.top < rect.bottom && f.bottom > rect.top;
}

bool PictureChanges::changed(const PictureInputs& now) const {
    if (!haveLast_ || now.screenChanged || !(now.rect == last_.rect) || now.pointerDrawn != last_.pointerDrawn)
        return true;
    if (!now.pointerDrawn) return false;
    const bool was = pointerTouches(last_, now.rect), is = pointerTouches(now, now.rect);
    if (!was && !is) return false;   // off the picture before and after: moves and shapes do not show
    if (was != is) return true;
    return now.pointerX != last_.pointerX || now.pointerY != last_.pointerY || now.shapeSerial != last_.shapeSerial;
}

}  // namespace torvane
