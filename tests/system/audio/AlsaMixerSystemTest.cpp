// ALSA's simple mixer layer, exercised on ALSA's "pulse" control device (no sound card here):
// the source's capture volume and switch as elements, set and read back.

#include <gtest/gtest.h>

#include "audio/MixerDevice.h"
#include "audio/VolumeInXXX.h"
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

// The input-line code on the same device through the mixer model.
namespace {
class PulseControl : public torvane::IMixerSystem {
public:
    bool mixerPresent() override { return true; }
    bool outputPresent() override { return true; }
    std::unique_ptr<torvane::IMixerDevice> openInputMixer() override { return torvane::openAlsaMixer("pulse"); }
    std::unique_ptr<torvane::IMixerDevice> openOutputMixer() override { return torvane::openAlsaMixer("pulse"); }
};
}  // namespace

TEST(AlsaMixerModel, CaptureLineVolumeAndRecordingSourceThroughTheModel) {
    using namespace torvane;
    PulseControl system;
    auto mixer = system.openInputMixer();
    ASSERT_NE(mixer, nullptr);
    MixerLineInfo recording, speakers;
    ASSERT_TRUE(mixer->destination(0, &recording));
    ASSERT_TRUE(mixer->destination(1, &speakers));
    EXPECT_EQ(recording.componentType, kComponentDstWaveIn);
    EXPECT_EQ(speakers.componentType, kComponentDstSpeakers);
    ASSERT_GE(recording.connections, 1u);
    MixerLineInfo line;
    ASSERT_TRUE(mixer->source(0, 0, &line));
    MixerLineInfo again;
    ASSERT_TRUE(mixer->lineById(line.lineId, &again));
    EXPECT_EQ(again.name, line.name);

    CVolumeInXXX volume(line.lineId, system);
    ASSERT_EQ(volume.isValid(), 1);
    int max = volume.maximumVolume();
    ASSERT_GT(max, volume.minimumVolume());
    volume.setVolume(unsigned(max / 2));
    EXPECT_NEAR(volume.volume(), max / 2, max / 100 + 1);
    volume.setVolume(unsigned(max) + 1);   // above the maximum: ignored
    EXPECT_NEAR(volume.volume(), max / 2, max / 100 + 1);
    volume.setVolume(unsigned(max));
    EXPECT_EQ(volume.volume(), max);
    // Without a capture-source choice the other lines are switched off (here: there are none).
    EXPECT_EQ(volume.selectAsRecordingSource(), 1);
}
