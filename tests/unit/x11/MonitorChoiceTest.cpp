// Which rectangle "Full Screen" records for a stored monitor choice.
#include <gtest/gtest.h>

#include "platform/x11/Monitors.h"

using namespace torvane;
using namespace torvane::x11;

namespace {
const ScreenRect kRoot{0, 0, 4480, 1440};
const std::vector<Monitor> kTwo = {{"DP-1", {0, 0, 1920, 1080}, false}, {"HDMI-1", {1920, 0, 4480, 1440}, true}};
}  // namespace

TEST(MonitorChoice, ByNameAllAndThePrimary) {
    EXPECT_EQ(chooseMonitor(kTwo, "DP-1", kRoot).rect, (ScreenRect{0, 0, 1920, 1080}));
    EXPECT_EQ(chooseMonitor(kTwo, "HDMI-1", kRoot).rect, (ScreenRect{1920, 0, 4480, 1440}));
    EXPECT_EQ(chooseMonitor(kTwo, "", kRoot).name, "HDMI-1") << "the primary, wherever it is listed";
    const MonitorChoice all = chooseMonitor(kTwo, kAllMonitors, kRoot);
    EXPECT_EQ(all.rect, kRoot);
    EXPECT_EQ(all.note, "");
    // No primary: the first; no monitors at all: the whole screen.
    const std::vector<Monitor> none = {{"A", {0, 0, 800, 600}, false}, {"B", {800, 0, 1600, 600}, false}};
    EXPECT_EQ(chooseMonitor(none, "", kRoot).name, "A");
    EXPECT_EQ(chooseMonitor({}, "DP-1", kRoot).rect, kRoot);
    EXPECT_EQ(chooseMonitor({}, "DP-1", kRoot).note, "");
}

TEST(MonitorChoice, AMonitorThatIsGoneFallsBackToThePrimaryWithANote) {
    const MonitorChoice c = chooseMonitor(kTwo, "DP-2", kRoot);
    EXPECT_EQ(c.name, "HDMI-1");
    EXPECT_EQ(c.rect, (ScreenRect{1920, 0, 4480, 1440}));
    EXPECT_EQ(c.note, "The monitor DP-2 is not connected; recording the primary monitor (HDMI-1 \u2014 2560 \u00d7 1440) instead.");
    // Names are matched exactly: another case is another output.
    EXPECT_NE(chooseMonitor(kTwo, "hdmi-1", kRoot).note, "");
}
