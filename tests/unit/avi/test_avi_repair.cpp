// Repair keeps the time line of what it rebuilds: empty positions between pictures, and the video
// ends on its last picture.

#include <gtest/gtest.h>

#include <chrono>

#include "platform/avi/AviFile.h"
#include "platform/avi/AviRepair.h"
#include "tests/unit/avi/AviTestFormats.h"

using namespace torvane::avi;
using namespace torvane::avi::test;

// Empty entries between pictures are recorded time; after the last picture they would be time that
// readers skipping empty entries never show, so the rebuilt video ends on that picture.
TEST(AviRepair, EmptyPicturesStayBetweenPicturesAndTheVideoEndsOnTheLast) {
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
    ASSERT_TRUE(video->write(6, 1, picture.data(), picture.size(), 0));
    ASSERT_TRUE(video->writeEmpty(19));
    ASSERT_TRUE(file->release());

    RepairReport report;
    std::string error;
    ASSERT_TRUE(repairAviFile(path, dir.file("repaired.avi"), report, error)) << error;
    ASSERT_EQ(report.streams.size(), 1u);
    EXPECT_EQ(report.streams[0].length, 7);
    EXPECT_EQ(report.streams[0].chunks, 3u);
    EXPECT_DOUBLE_EQ(report.seconds, 0.7);

    // The rebuilt file holds the seven positions, the empty ones between included: read back, it
    // says so again.
    RepairReport again;
    ASSERT_TRUE(repairAviFile(dir.file("repaired.avi"), dir.file("again.avi"), again, error)) << error;
    ASSERT_EQ(again.streams.size(), 1u);
    EXPECT_EQ(again.streams[0].length, 7);
    EXPECT_EQ(again.streams[0].chunks, 3u);
}

// The sound of a file cut off in a still stretch goes on past the last picture; rebuilt, it ends with
// that picture's frame period, as a finished recording's does, and what was cut counts as dropped.
TEST(AviRepair, TheSoundEndsWithTheLastPicture) {
    TempDir dir;
    const std::string path = dir.file("cut.avi");
    auto file = AviFile::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));
    const auto [video, audio] = addVideoAndSound(*file, videoInfo(64, 48, 10));
    ASSERT_TRUE(video && audio);
    const std::vector<uint8_t> picture(150, 9);
    const auto block = payload(1600, 2);   // a tenth of a second
    for (int64_t p = 0; p < 10; ++p) {
        if (p < 5)
            ASSERT_TRUE(video->write(p, 1, picture.data(), picture.size(), p == 0 ? kKeyframe : 0));
        else
            ASSERT_TRUE(video->writeEmpty(p));
        ASSERT_TRUE(audio->write(800 * p, 800, block.data(), block.size(), 0));
    }
    ASSERT_TRUE(file->release());

    RepairReport report;
    std::string error;
    ASSERT_TRUE(repairAviFile(path, dir.file("repaired.avi"), report, error)) << error;
    ASSERT_EQ(report.streams.size(), 2u);
    EXPECT_EQ(report.streams[0].length, 5);
    EXPECT_EQ(report.streams[1].length, 4000);
    EXPECT_DOUBLE_EQ(report.seconds, 0.5);
    EXPECT_EQ(report.bytesDropped, 5u * 1600);
}
