// The Resolution list as built from a camera's sizes.

#include <gtest/gtest.h>

#include "webcam/VideoDeviceEnum.h"

namespace torvane {
namespace {

std::vector<std::string> texts(const std::vector<ResolutionItem>& items) {
    std::vector<std::string> t;
    for (const auto& i : items) t.push_back(i.text);
    return t;
}

TEST(ResolutionList, DeviceOrderEachSizeOnceAndNothingAbove720p) {
    // The same size in two pixel formats, and a size too large for the recorder.
    const auto items = resolutionItems({{640, 480}, {320, 240}, {640, 480}, {160, 120}, {1920, 1080}, {1280, 720}, {1280, 800}});
    EXPECT_EQ(texts(items), (std::vector<std::string>{"640X480", "320X240", "160X120", "1280X720"}));
    EXPECT_EQ(items[0].value, 480u * 65536u + 640u);
    EXPECT_EQ(defaultResolutionIndex(items), 2);
    EXPECT_EQ(webcamListLine("HD Camera", resolutionItems({{640, 480}, {320, 240}, {160, 120}})),
              "HD Camera: 640X480 320X240 160X120");
}

TEST(ResolutionList, WithoutSmallestSizeTheFirstIsChosenAndEmptyChoosesNone) {
    EXPECT_EQ(defaultResolutionIndex(resolutionItems({{640, 480}, {320, 240}})), 0);
    EXPECT_EQ(defaultResolutionIndex(resolutionItems({{1920, 1080}, {0, 0}, {-4, 120}})), -1);
}

}  // namespace
}  // namespace torvane
