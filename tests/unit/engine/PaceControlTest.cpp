#include <gtest/gtest.h>

#include "engine/PaceControl.h"

using namespace torvane;

namespace {

// Feeds `seconds` seconds of turns at `fps`: every `every`-th position gets a turn, the ones
// between counted late by it; each turn busy `busyUs`. Returns the speed after them.
struct Feeder {
    PaceControl pace;
    int fps;
    int64_t position = 0;
    int64_t lastTurn = -1;

    Feeder(int fps, int fastest = 3) : pace(fps, fastest), fps(fps) {}
    int run(double seconds, int every, uint64_t busyUs) {
        const int64_t end = position + int64_t(seconds * fps);
        int speed = pace.speed();
        for (; position < end; position += every) {
            speed = pace.turn(position, uint64_t(lastTurn < 0 ? 0 : position - lastTurn - 1), busyUs);
            lastTurn = position;
        }
        return speed;
    }
};

}  // namespace

TEST(PaceControl, SustainedLatenessStepsUpOneStepEveryTwoSecondsToTheFastest) {
    Feeder f(30);
    // Every other position late, the loop busy throughout.
    EXPECT_EQ(f.run(1.0, 2, 60000), 0);
    EXPECT_EQ(f.run(2.0, 2, 60000), 1);   // two whole late seconds closed
    EXPECT_EQ(f.run(2.0, 2, 60000), 2);
    EXPECT_EQ(f.run(2.0, 2, 60000), 3);
    EXPECT_EQ(f.run(10.0, 2, 60000), 3);   // never beyond the fastest step
}

TEST(PaceControl, ABriefHiccupOrARareLatePositionChangesNothing) {
    Feeder f(30);
    f.run(5.0, 1, 10000);
    // One late second between good ones.
    f.run(1.0, 3, 60000);
    EXPECT_EQ(f.run(5.0, 1, 10000), 0);
    // One late position a second, for a long time: under one in twenty.
    for (int s = 0; s < 20; ++s) {
        f.position += 1;
        f.pace.turn(f.position, 1, 10000);
        f.lastTurn = f.position++;
        f.run(1.0 - 2.0 / 30, 1, 10000);
    }
    EXPECT_EQ(f.pace.speed(), 0);
}

// A second is judged when the next one begins.
TEST(PaceControl, RoomForLongEnoughStepsBackDownAndARelapseDoublesTheWait) {
    Feeder f(30);
    f.run(2.0, 2, 60000);
    EXPECT_EQ(f.run(1.0, 1, 20000), 1);
    // Nothing late, but the loop busy more than half the time: stays.
    EXPECT_EQ(f.run(20.0, 1, 20000), 1);
    // Plenty of room: back after the first wait.
    EXPECT_EQ(f.run(PaceControl::kFirstRoomStretches, 1, 5000), 1);
    EXPECT_EQ(f.run(1.0, 1, 5000), 0);
    // Late again soon: faster, and the next way back takes twice as long.
    f.run(2.0, 2, 60000);
    EXPECT_EQ(f.run(1.0, 1, 20000), 1);
    EXPECT_EQ(f.pace.roomNeeded(), 2 * PaceControl::kFirstRoomStretches);
    EXPECT_EQ(f.run(2 * PaceControl::kFirstRoomStretches, 1, 5000), 1);
    EXPECT_EQ(f.run(1.0, 1, 5000), 0);
    // Late long after going back is no relapse: the wait stays.
    f.run(PaceControl::kRelapseStretches + 2, 1, 5000);
    f.run(2.0, 2, 60000);
    EXPECT_EQ(f.run(1.0, 1, 20000), 1);
    EXPECT_EQ(f.pace.roomNeeded(), 2 * PaceControl::kFirstRoomStretches);
}

TEST(PaceControl, ATurnSecondsLateClosesTheSecondsBetweenAsLate) {
    Feeder f(30);
    f.run(1.0, 1, 10000);
    // One turn 3 s after the last: the positions between are late.
    f.position += 90;
    f.pace.turn(f.position, 90, 3000000);
    f.lastTurn = f.position++;
    EXPECT_EQ(f.run(1.0, 1, 10000), 1);
}

TEST(PaceControl, LowRatesAreJudgedOverSeveralPositionsAndNoFasterStepIsNoneTaken) {
    // At one position a second, stretches of five: every other one late is sustained lateness.
    Feeder slow(1);
    EXPECT_EQ(slow.run(9.0, 2, 900000), 0);
    EXPECT_EQ(slow.run(2.0, 2, 900000), 1);
    Feeder none(30, 0);
    EXPECT_EQ(none.run(10.0, 3, 90000), 0);
}
