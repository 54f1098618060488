#include <gtest/gtest.h>

#include <cerrno>

#include "engine/StopReport.h"

using namespace torvane;

TEST(StopReport, SaysWhatStoppedTheRecordingAndHowMuchTheFileHolds) {
    EXPECT_EQ(describeStop(StopFault::None, 0, "", 5000), "");
    EXPECT_EQ(describeStop(StopFault::FileWrite, ENOSPC, "cannot write x: No space left on device", 12400),
              "The disk is full. The recording stopped after 12.4 s; the file holds what was recorded until then.");
    EXPECT_EQ(describeStop(StopFault::FileWrite, EIO, "cannot write x", 185000),
              "The file could not be written (Input/output error). The recording stopped after 3 min 05 s; the "
              "file holds what was recorded until then.");
    EXPECT_EQ(describeStop(StopFault::FileWrite, EFBIG, "", 3725000).substr(0, 55),
              "The file has reached the largest size its disk allows. ");
    EXPECT_NE(describeStop(StopFault::FileWrite, EFBIG, "", 3725000).find("1 h 02 min 05 s"), std::string::npos);
    EXPECT_EQ(describeStop(StopFault::ScreenLost, 0, "The connection to the X server was lost", 0),
              "The screen could not be read any more (The connection to the X server was lost). The recording "
              "stopped before anything was recorded.");
}
