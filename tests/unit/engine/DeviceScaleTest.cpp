#include <gtest/gtest.h>

#include "platform/screen/DeviceScale.h"

using namespace torvane;

// A window placed over a recorded rectangle covers it whole at any ratio, and no more than the
// logical pixels it touches.
TEST(DeviceScale, LogicalRectangleCoversTheDevicePixels) {
    EXPECT_EQ(logicalCovering({300, 200, 700, 500}, 1), QRect(300, 200, 400, 300));
    EXPECT_EQ(logicalCovering({300, 200, 700, 500}, 2), QRect(150, 100, 200, 150));
    EXPECT_EQ(logicalCovering({301, 201, 699, 499}, 2), QRect(150, 100, 200, 150));
    // 150 %: 301 / 1.5 = 200.67 starts in logical pixel 200; 700 / 1.5 = 466.67 ends in 466.
    EXPECT_EQ(logicalCovering({301, 200, 700, 500}, 1.5), QRect(200, 133, 267, 201));
    for (double ratio : {1.0, 1.25, 1.5, 1.75, 2.0, 3.0}) {
        const ScreenRect d{37, 91, 1013, 577};
        const QRect l = logicalCovering(d, ratio);
        EXPECT_LE(l.left() * ratio, d.left) << ratio;
        EXPECT_LE(l.top() * ratio, d.top) << ratio;
        EXPECT_GE((l.left() + l.width()) * ratio, d.right) << ratio;
        EXPECT_GE((l.top() + l.height()) * ratio, d.bottom) << ratio;
        EXPECT_GT((l.left() + 1) * ratio, d.left) << ratio;
        EXPECT_LT((l.left() + l.width() - 1) * ratio, d.right) << ratio;
    }
    EXPECT_EQ(logicalCovering({0, 0, 10, 10}, 0), QRect(0, 0, 10, 10)) << "a bad ratio counts as 1";
}
