// The V4L2 controls API where no camera answers: each failure is refused with its reason.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "platform/v4l2/V4l2Controls.h"

namespace torvane::v4l2 {
namespace {

TEST(V4l2Controls, AMissingNodeAndANodeThatIsNoCameraAreRefusedWithTheirReason) {
    std::string error;
    V4l2Device device;
    EXPECT_FALSE(device.open("/dev/torvane-no-such-camera", error));
    EXPECT_EQ(error, "/dev/torvane-no-such-camera does not exist");
    EXPECT_FALSE(device.isOpen());

    error.clear();
    EXPECT_FALSE(device.open("/dev/null", error));
    EXPECT_EQ(error, "/dev/null is not a V4L2 device");
    EXPECT_FALSE(device.isOpen());
    EXPECT_EQ(openControls("/dev/null", error), nullptr);

    // A regular file is no device either; a folder cannot even be opened for writing.
    char name[] = "/tmp/torvane-v4l2-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_FALSE(device.open(name, error));
    EXPECT_EQ(error, std::string(name) + " is not a V4L2 device");
    std::remove(name);
    EXPECT_FALSE(device.open("/tmp", error));
    EXPECT_NE(error.find("/tmp cannot be opened: "), std::string::npos) << error;

    EXPECT_FALSE(hasControls(""));
    EXPECT_FALSE(hasControls("/dev/null"));
    EXPECT_FALSE(hasControls("/dev/torvane-no-such-camera"));
}

TEST(V4l2Controls, ADeviceNotOpenListsReadsAndSetsNothing) {
    V4l2Device device;
    std::vector<Control> controls{Control{}};
    std::string error;
    int32_t value = 7;
    EXPECT_FALSE(device.list(controls, error));
    EXPECT_TRUE(controls.empty());
    EXPECT_EQ(error, "the device is not open");
    error.clear();
    EXPECT_FALSE(device.get(0x00980900, value, error));
    EXPECT_EQ(value, 7);
    EXPECT_EQ(error, "the device is not open");
    error.clear();
    EXPECT_FALSE(device.set(0x00980900, 1, error));
    EXPECT_EQ(error, "the device is not open");
}

}  // namespace
}  // namespace torvane::v4l2
