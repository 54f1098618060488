// Which turns need a new picture: the screen, the rectangle, and the pointer only where it shows.

#include <gtest/gtest.h>

#include "engine/PictureChanges.h"

using namespace torvane;

namespace {

const ScreenRect kRect{100, 100, 500, 400};

PictureInputs still() {
    PictureInputs in;
    in.rect = kRect;
    in.screenChanged = false;
    return in;
}

PictureInputs pointerAt(int x, int y, uint64_t shape = 1) {
    PictureInputs in = still();
    in.pointerDrawn = in.pointerKnown = true;
    in.pointerX = x;
    in.pointerY = y;
    in.shapeSerial = shape;
    return in;
}

CursorSettings arrow() { return CursorSettings{}; }

CursorSettings square(int size, int opacity = 70) {
    CursorSettings c;
    c.highlightType = kHighlightRectangle;
    c.highlightSize = size;
    c.highlightOpacity = opacity;
    return c;
}

// Whether `next` needs a picture after `written` went into the last one.
bool changedAfter(const CursorSettings& c, const PictureInputs& written, const PictureInputs& next) {
    PictureChanges changes(c);
    EXPECT_TRUE(changes.changed(written)) << "the first picture of a run is always taken";
    changes.written(written);
    return changes.changed(next);
}

}  // namespace

TEST(PictureChanges, ScreenAndRectangle) {
    EXPECT_FALSE(changedAfter(arrow(), still(), still()));
    PictureInputs damaged = still();
    damaged.screenChanged = true;
    EXPECT_TRUE(changedAfter(arrow(), still(), damaged));
    // A live-session window that moved by one pixel, and one that was resized.
    PictureInputs moved = still();
    moved.rect = {101, 100, 501, 400};
    EXPECT_TRUE(changedAfter(arrow(), still(), moved));
    PictureInputs wider = still();
    wider.rect.right += 4;
    EXPECT_TRUE(changedAfter(arrow(), still(), wider));

    // forget() asks for a picture (after Resume, after a refused one) whatever the inputs say.
    PictureChanges changes(arrow());
    changes.written(still());
    EXPECT_FALSE(changes.changed(still()));
    changes.forget();
    EXPECT_TRUE(changes.changed(still()));
}

TEST(PictureChanges, DrawnPointerCountsWhereItTouchesThePicture) {
    // Inside: a move of one pixel, a new shape, the same place and shape.
    EXPECT_TRUE(changedAfter(arrow(), pointerAt(200, 200), pointerAt(201, 200)));
    EXPECT_TRUE(changedAfter(arrow(), pointerAt(200, 200), pointerAt(200, 200, 2)));
    EXPECT_FALSE(changedAfter(arrow(), pointerAt(200, 200), pointerAt(200, 200)));

    // Far outside: moves and shapes do not show.
    EXPECT_FALSE(changedAfter(arrow(), pointerAt(800, 800), pointerAt(900, 700, 5)));
    EXPECT_FALSE(changedAfter(arrow(), pointerAt(10, 10), pointerAt(50, 50)));
    // Entering and leaving the picture change it.
    EXPECT_TRUE(changedAfter(arrow(), pointerAt(800, 800), pointerAt(300, 300)));
    EXPECT_TRUE(changedAfter(arrow(), pointerAt(300, 300), pointerAt(800, 800)));

    // The arrow hangs down and right of its tip: a tip just left of or above the rectangle still
    // shows, one just right of or below it does not.
    EXPECT_TRUE(changedAfter(arrow(), pointerAt(90, 200), pointerAt(91, 200)));
    EXPECT_TRUE(changedAfter(arrow(), pointerAt(200, 80), pointerAt(201, 80)));
    EXPECT_FALSE(changedAfter(arrow(), pointerAt(501, 200), pointerAt(502, 210)));
    EXPECT_FALSE(changedAfter(arrow(), pointerAt(200, 401), pointerAt(210, 402)));

    // A 40-pixel square reaches 20 pixels out on every side of the pointer.
    EXPECT_TRUE(changedAfter(square(40), pointerAt(515, 200), pointerAt(515, 210)));
    EXPECT_TRUE(changedAfter(square(40), pointerAt(85, 200), pointerAt(85, 210)));
    EXPECT_FALSE(changedAfter(square(40), pointerAt(530, 200), pointerAt(530, 210)));
    // A highlight that draws nothing (size 0, opacity 0) never touches the picture.
    EXPECT_FALSE(changedAfter(square(0), pointerAt(200, 200), pointerAt(300, 300, 3)));
    EXPECT_FALSE(changedAfter(square(40, 0), pointerAt(200, 200), pointerAt(300, 300, 3)));
}

TEST(PictureChanges, PointerNotDrawnOrNotKnownIsIgnored) {
    PictureInputs a = pointerAt(200, 200), b = pointerAt(300, 300, 9);
    a.pointerDrawn = b.pointerDrawn = false;
    EXPECT_FALSE(changedAfter(arrow(), a, b));

    // Off the desktop (not known) before and after: nothing drawn, nothing changed.
    PictureInputs gone = pointerAt(200, 200), stillGone = pointerAt(300, 300, 4);
    gone.pointerKnown = stillGone.pointerKnown = false;
    EXPECT_FALSE(changedAfter(arrow(), gone, stillGone));
    // The pointer was drawn and is no longer known: the arrow must go.
    EXPECT_TRUE(changedAfter(arrow(), pointerAt(200, 200), gone));
    EXPECT_TRUE(changedAfter(arrow(), gone, pointerAt(200, 200)));
}
