#pragma once
// Where an object goes inside an area, by one of the nine position indices shared by the watermark
// and the webcam overlay window.

namespace torvane {

enum PlacementPosition : int {
    kPlaceTopLeft = 0,
    kPlaceTopRight = 1,
    kPlaceTopCenter = 2,
    kPlaceBottomLeft = 3,
    kPlaceBottomRight = 4,
    kPlaceBottomCenter = 5,
    kPlaceMiddleLeft = 6,
    kPlaceMiddleRight = 7,
    kPlaceMiddleCenter = 8,
};

struct PlacedPoint {
    int x, y;
};

// Top-left corner of a w x h object in the area (L, T, R, B) with margins mx, my. Margins are not
// applied along a centred axis; divisions truncate toward zero. A position outside 0..8 is placed
// as top left (0).
PlacedPoint placeObject(int position, int L, int T, int R, int B, int w, int h, int mx, int my);

}  // namespace torvane
