// ALSA's simple mixer layer, exercised on ALSA's "pulse" control device (no sound card here):
// the source's capture volume and switch as elements, set and read back.

#include <gtest/gtest.h>

#include "platform/alsa/AlsaMixer.h"

using namespace torvane::alsa;

TEST(AlsaMixer, CaptureElementVolumeAndSwitchRoundTrip) {
    std::string error;
    auto mixer = SimpleMixer::open("pulse", &error);
    ASSERT_NE(mixer, nullptr) << error;
    size_t capture = mixer->elements().size();
    for (size_t i = 0; i < mixer->elements().size(); ++i)
        if (mixer->elements()[i].captureVolume) capture = i;
    ASSERT_LT(capture, mixer->elements().size());
    const MixerElement& e = mixer->elements()[capture];
    ASSERT_LT(e.captureMin, e.captureMax);
    long mid = (e.captureMin + e.captureMax) / 2, v = -1;
    ASSERT_TRUE(mixer->setCaptureVolume(capture, mid));
    ASSERT_TRUE(mixer->captureVolume(capture, &v));
    EXPECT_NEAR(double(v), double(mid), double(e.captureMax - e.captureMin) / 100);
    if (e.captureSwitch) {
        bool on = true;
        ASSERT_TRUE(mixer->setSwitch(capture, true, false));
        ASSERT_TRUE(mixer->switchOn(capture, true, &on));
        EXPECT_FALSE(on);
        ASSERT_TRUE(mixer->setSwitch(capture, true, true));
        ASSERT_TRUE(mixer->switchOn(capture, true, &on));
        EXPECT_TRUE(on);
    }
    mixer->setCaptureVolume(capture, e.captureMax);
    EXPECT_FALSE(mixer->setCaptureVolume(mixer->elements().size(), 0));   // no such element
}

TEST(AlsaMixer, MissingCardIsRefused) {
    std::string error;
    EXPECT_EQ(SimpleMixer::open("hw:7", &error), nullptr);
    EXPECT_FALSE(error.empty());
}
