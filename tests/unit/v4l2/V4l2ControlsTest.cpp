// The V4L2 controls API: where no camera answers, each failure is refused with its reason; over a
// driver of the test process, the driver's flags reach each control and a change of one control
// is seen in the others.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "FakeV4l2Node.h"
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

const Control* byId(const std::vector<Control>& controls, uint32_t id) {
    for (const auto& c : controls)
        if (c.id == id) return &c;
    return nullptr;
}

TEST(V4l2Controls, TheDriversFlagsAreKeptAndDisabledControlsAndHeadingsLeftOut) {
    V4l2Device device(std::make_unique<fake::FakeNode>());
    ASSERT_TRUE(device.isOpen());
    std::vector<Control> controls;
    std::string error;
    ASSERT_TRUE(device.list(controls, error)) << error;
    std::vector<std::string> names;
    for (const auto& c : controls) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Brightness", "Power Line Frequency", "Auto Exposure",
                                               "Exposure Time, Absolute", "Focus, Absolute"}));

    const Control* brightness = byId(controls, fake::kBrightness);
    const Control* time = byId(controls, fake::kExposureTime);
    const Control* focus = byId(controls, fake::kFocusReading);
    const Control* power = byId(controls, fake::kPowerLine);
    const Control* automatic = byId(controls, fake::kExposureAuto);
    ASSERT_TRUE(brightness && time && focus && power && automatic);
    EXPECT_FALSE(brightness->readOnly || brightness->grabbed || brightness->inactive);
    EXPECT_EQ(brightness->minimum, -64);
    EXPECT_TRUE(time->inactive);
    EXPECT_FALSE(time->readOnly || time->grabbed);
    EXPECT_TRUE(focus->readOnly);
    EXPECT_FALSE(focus->grabbed || focus->inactive);
    EXPECT_TRUE(power->grabbed);
    EXPECT_FALSE(power->readOnly || power->inactive);
    // The menu keeps the driver's indexes across its gaps.
    ASSERT_EQ(automatic->menu.size(), 2u);
    EXPECT_EQ(automatic->menu[0].index, 1);
    EXPECT_EQ(automatic->menu[0].text, "Manual Mode");
    EXPECT_EQ(automatic->menu[1].index, 3);
}

TEST(V4l2Controls, AChangeThatSwitchesAnotherControlIsSeenAndRefusalsSayWhy) {
    V4l2Device device(std::make_unique<fake::FakeNode>());
    std::string error;
    ASSERT_TRUE(device.set(fake::kExposureAuto, 1, error)) << error;
    std::vector<Control> controls;
    ASSERT_TRUE(device.list(controls, error));
    ASSERT_NE(byId(controls, fake::kExposureTime), nullptr);
    EXPECT_FALSE(byId(controls, fake::kExposureTime)->inactive);
    int32_t value = 0;
    ASSERT_TRUE(device.get(fake::kExposureTime, value, error));
    EXPECT_EQ(value, 500);

    EXPECT_FALSE(device.set(fake::kFocusReading, 3, error));
    EXPECT_EQ(error, "the value cannot be set: Permission denied");
    EXPECT_FALSE(device.set(fake::kPowerLine, 2, error));
    EXPECT_EQ(error, "the value cannot be set: Device or resource busy");
    EXPECT_FALSE(device.get(fake::kPan + 1000, value, error));
    EXPECT_EQ(error, "the value cannot be read: Invalid argument");
    EXPECT_EQ(value, 500);
}

}  // namespace
}  // namespace torvane::v4l2
