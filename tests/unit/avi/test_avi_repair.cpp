// Repair keeps the time line of what it rebuilds, empty positions included.

#include <gtest/gtest.h>

#include <chrono>

#include "platform/avi/AviFile.h"
#include "platform/avi/AviRepair.h"
#include "tests/unit/avi/AviTestFormats.h"

using namespace torvane::avi;
using namespace torvane::avi::test;

// A still screen is one picture and then empty entries; all of them are recorded time.
TEST(AviRepair, EmptyPicturesAfterTheLastOneStayOnTheTimeLine) {
    TempDir dir;
    const std::string path = dir.file("still.avi");
    auto file = AviFile::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));
    AviStream* video = addVideo(*file, videoInfo(64, 48, 10));
    ASSERT_TRUE(video);
    const std::vector<uint8_t> picture(200, 7);
    ASSERT_TRUE(video->write(0, 1, picture.data(), picture.size(), kKeyframe));
    ASSERT_TRUE(video->write(3, 1, picture.data(), picture.size(), 0));   // 1 and 2 left empty
    ASSERT_TRUE(video->writeEmpty(19));
    ASSERT_TRUE(file->release());

    RepairReport report;
    std::string error;
    ASSERT_TRUE(repairAviFile(path, dir.file("repaired.avi"), report, error)) << error;
    ASSERT_EQ(report.streams.size(), 1u);
    EXPECT_EQ(report.streams[0].length, 20);
    EXPECT_EQ(report.streams[0].chunks, 2u);
    EXPECT_DOUBLE_EQ(report.seconds, 2.0);

    // The rebuilt file itself holds all twenty positions: read back, it says so again.
    RepairReport again;
    ASSERT_TRUE(repairAviFile(dir.file("repaired.avi"), dir.file("again.avi"), again, error)) << error;
    ASSERT_EQ(again.streams.size(), 1u);
    EXPECT_EQ(again.streams[0].length, 20);
}
