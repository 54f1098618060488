#include <gtest/gtest.h>

#include "engine/Placement.h"

using torvane::placeObject;

namespace {
struct Case {
    int position, x, y;
};
}  // namespace

TEST(Placement, NinePositionsOnAnOriginArea) {
    // 100 x 50 object, margins 10 / 20, area 800 x 600.
    const Case cases[] = {
        {0, 10, 20},  {1, 690, 20},  {2, 350, 20},   // top row
        {3, 10, 530}, {4, 690, 530}, {5, 350, 530},  // bottom row
        {6, 10, 275}, {7, 690, 275}, {8, 350, 275},  // middle row: no margin on the centred axis
    };
    for (const Case& c : cases) {
        const auto p = placeObject(c.position, 0, 0, 800, 600, 100, 50, 10, 20);
        EXPECT_EQ(p.x, c.x) << "position " << c.position;
        EXPECT_EQ(p.y, c.y) << "position " << c.position;
    }
}

TEST(Placement, CentringTruncatesAndHonoursTheAreaOrigin) {
    EXPECT_EQ(placeObject(8, 0, 0, 800, 600, 101, 51, 0, 0).x, 349);
    EXPECT_EQ(placeObject(8, 0, 0, 800, 600, 101, 51, 0, 0).y, 274);
    // An overlay over an area whose top-left is (200, 100).
    const auto p = placeObject(0, 200, 100, 840, 580, 160, 120, 10, 10);
    EXPECT_EQ(p.x, 210);
    EXPECT_EQ(p.y, 110);
    const auto q = placeObject(5, 200, 100, 840, 580, 160, 120, 10, 10);
    EXPECT_EQ(q.x, 200 + (640 - 160) / 2);
    EXPECT_EQ(q.y, 580 - 10 - 120);
    // An object wider than the area: (R - L - w) / 2 truncates toward zero, -1 / 2 == 0.
    EXPECT_EQ(placeObject(2, 0, 0, 100, 100, 101, 10, 0, 0).x, 0);
    EXPECT_EQ(placeObject(2, 0, 0, 100, 100, 103, 10, 0, 0).x, -1);
}

TEST(Placement, PositionOutsideTheTableIsTopLeft) {
    for (int position : {-1, 9, 1000}) {
        const auto p = placeObject(position, 5, 6, 800, 600, 100, 50, 10, 20);
        EXPECT_EQ(p.x, 15);
        EXPECT_EQ(p.y, 26);
    }
}
