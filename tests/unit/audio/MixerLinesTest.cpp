#include <gtest/gtest.h>

#include <cstdlib>

#include "InProcessMixer.h"
#include "audio/MixerLines.h"
#include "audio/SoundPlatform.h"
#include "audio/VolumeInXXX.h"

using namespace torvane;
using namespace torvane::test;

namespace {

MixerState::Source src(const std::string& name) {
    MixerState::Source s;
    s.name = name;
    return s;
}

// A typical card: one recording input and the speakers' mix.
void typicalCard(MixerState& m) {
    m.destinations = {
        {"Recording", kComponentDstWaveIn, true, {}, {src("Microphone"), src("Line In"), src("Stereo Mix")}},
        {"Speakers", kComponentDstSpeakers, false, {}, {src("Front Mic"), src("Line In"), src("CD Player"), src("Wave")}},
    };
}

class MixerLines : public ::testing::Test {
protected:
    void SetUp() override {
        detectSoundPlatform();
        saved_ = g_bVistaOrLater;
        g_bVistaOrLater = false;   // these paths only run without a sound server
        typicalCard(sys.state);
    }
    void TearDown() override { g_bVistaOrLater = saved_; }
    MixerState::Source& line(uint32_t d, uint32_t i) { return sys.state.destinations[d].sources[i]; }
    InProcessMixerSystem sys;
    bool saved_ = false;
};

}  // namespace

TEST_F(MixerLines, StereoMixIsFoundByWholeNameAndMicrophoneByContainedText) {
    uint32_t line = 0;
    ASSERT_TRUE(findStereoMixLine(sys, &line));
    EXPECT_EQ(line, 2u);

    sys.state.destinations[0].sources[2].name = "Stereo Mix 2";   // not the whole name
    ASSERT_TRUE(findStereoMixLine(sys, &line));
    EXPECT_EQ(line, kNoLine);

    sys.state.destinations[0].sources[0].name = "Wave Out Mix";
    ASSERT_TRUE(findStereoMixLine(sys, &line));
    EXPECT_EQ(line, 0u);

    // Speaker-mix sources are not recording lines: "Front Mic" there does not count, in the
    // recording input "Front Mic" does, and the comparison is case-sensitive.
    sys.state.destinations[0].sources = {src("microphone"), src("Rear Front Mic")};
    ASSERT_TRUE(findMicrophoneLine(sys, &line));
    EXPECT_EQ(line, 1u);

    sys.state.openFails = true;
    EXPECT_FALSE(findMicrophoneLine(sys, &line));
    EXPECT_EQ(line, kNoLine);
}

TEST_F(MixerLines, LastRecordingDestinationWithAStereoMixDecides) {
    sys.state.destinations.push_back({"Second", kComponentDstWaveIn, true, {}, {src("Aux"), src("Stereo Mix")}});
    uint32_t line = 0;
    ASSERT_TRUE(findStereoMixLine(sys, &line));
    EXPECT_EQ(line, (2u << 16) | 1u);
}

TEST_F(MixerLines, MultiplexerItemsRunInReverseSourceOrder) {
    CVolumeInXXX stereo(2, sys);
    ASSERT_EQ(stereo.isValid(), 1);
    EXPECT_EQ(stereo.selectAsRecordingSource(), 1);
    EXPECT_EQ(sys.state.destinations[0].mux, (std::vector<uint32_t>{1, 0, 0}));
    CVolumeInXXX mic(0, sys);
    EXPECT_EQ(mic.selectAsRecordingSource(), 1);
    EXPECT_EQ(sys.state.destinations[0].mux, (std::vector<uint32_t>{0, 0, 1}));
}

TEST_F(MixerLines, WithoutMultiplexerTheOtherSourcesAreMuted) {
    sys.state.destinations[0].hasMux = false;
    CVolumeInXXX lineIn(1, sys);
    EXPECT_EQ(lineIn.selectAsRecordingSource(), 1);
    EXPECT_EQ(line(0, 0).mute, 1u);
    EXPECT_EQ(line(0, 1).mute, 0u);
    EXPECT_EQ(line(0, 2).mute, 1u);

    // A source without a mute control ends the mute way with failure.
    line(0, 2).hasMute = false;
    line(0, 0).mute = 0;
    CVolumeInXXX mic(0, sys);
    EXPECT_EQ(mic.selectAsRecordingSource(), 0);
    EXPECT_EQ(line(0, 1).mute, 1u);   // sources handled before stay as set
}

TEST_F(MixerLines, VolumeOutsideTheBoundsIsIgnored) {
    sys.state.minimum = 100;
    sys.state.maximum = 1000;
    CVolumeInXXX v(1, sys);
    ASSERT_EQ(v.isValid(), 1);
    EXPECT_EQ(v.minimumVolume(), 100);
    EXPECT_EQ(v.maximumVolume(), 1000);
    v.setVolume(500);
    EXPECT_EQ(line(0, 1).volume, (std::vector<uint32_t>{500, 500}));
    EXPECT_EQ(v.volume(), 500);
    v.setVolume(1001);
    v.setVolume(99);
    EXPECT_EQ(v.volume(), 500);
    v.setVolume(1000);
    EXPECT_EQ(v.volume(), 1000);
}

TEST_F(MixerLines, LineWithoutVolumeControlOrMixerIsNotValid) {
    line(0, 1).hasVolume = false;
    CVolumeInXXX v(1, sys);
    EXPECT_EQ(v.isValid(), 0);
    EXPECT_EQ(v.volume(), -1);
    EXPECT_EQ(v.volumeSteps(), -1);
    EXPECT_EQ(v.selectAsRecordingSource(), 0);
    EXPECT_EQ(CVolumeInXXX::current(), nullptr);

    sys.state.present = false;
    CVolumeInXXX none(0, sys);
    EXPECT_EQ(none.isValid(), 0);
    EXPECT_EQ(none.maximumVolume(), -1);
    EXPECT_EQ(none.selectAsRecordingSource(), 0);
}

namespace {
int g_lastValue = -1, g_lastUser = 0;
void onChange(int value, int user) {
    g_lastValue = value;
    g_lastUser = user;
}
}  // namespace

TEST_F(MixerLines, VolumeChangeNotificationsReachTheCallback) {
    auto v = std::make_unique<CVolumeInXXX>(2, sys);
    EXPECT_EQ(CVolumeInXXX::current(), v.get());
    v->setChangeCallback(onChange, 42);
    line(0, 2).volume = {777, 777};
    ASSERT_TRUE(sys.state.listener);
    sys.state.listener(9999);   // another control: ignored
    EXPECT_EQ(g_lastValue, -1);
    sys.state.listener((2u * 4) + 1);
    EXPECT_EQ(g_lastValue, 777);
    EXPECT_EQ(g_lastUser, 42);
    v.reset();
    EXPECT_EQ(CVolumeInXXX::current(), nullptr);
}

TEST_F(MixerLines, AvailabilityCheckSelectsTheStereoMixAtFullVolume) {
    EXPECT_EQ(systemSoundAvailable(sys), 1);
    EXPECT_EQ(sys.state.destinations[0].mux, (std::vector<uint32_t>{1, 0, 0}));
    EXPECT_EQ(line(0, 2).volume, (std::vector<uint32_t>{65535, 65535}));

    sys.state.destinations[0].sources.pop_back();   // no stereo mix
    EXPECT_EQ(systemSoundAvailable(sys), 0);
    sys.state.present = false;
    EXPECT_EQ(systemSoundAvailable(sys), 0);
}

TEST_F(MixerLines, RecordingLineChoiceFollowsTheSoundOption) {
    EXPECT_EQ(chooseRecordingLine(1, sys), 1);
    EXPECT_EQ(sys.state.destinations[0].mux, (std::vector<uint32_t>{1, 0, 0}));
    EXPECT_EQ(line(1, 0).mute, 1u);   // "Front Mic" in the speaker mix
    EXPECT_EQ(line(1, 1).mute, 1u);   // "Line In"
    EXPECT_EQ(line(1, 2).mute, 0u);
    EXPECT_EQ(line(1, 3).mute, 0u);

    EXPECT_EQ(chooseRecordingLine(2, sys), 1);
    EXPECT_EQ(line(1, 0).mute, 0u);
    EXPECT_EQ(line(1, 1).mute, 0u);

    EXPECT_EQ(chooseRecordingLine(0, sys), 1);
    EXPECT_EQ(sys.state.destinations[0].mux, (std::vector<uint32_t>{0, 0, 1}));

    // Without a stereo mix, options 1 and 2 still mute or unmute the microphone.
    sys.state.destinations[0].sources.pop_back();
    sys.state.destinations[0].mux.clear();
    EXPECT_EQ(chooseRecordingLine(1, sys), 1);
    EXPECT_TRUE(sys.state.destinations[0].mux.empty());
    EXPECT_EQ(line(1, 0).mute, 1u);
}

TEST_F(MixerLines, WithASoundServerNeitherOperationTouchesTheMixer) {
    g_bVistaOrLater = true;
    // The server's answer decides, not the card's mixer: here the server has gone, so there is no
    // output monitor and system sound is not offered, while the microphone still is.
    setenv("PULSE_SERVER", "unix:/nonexistent/torvane-no-server", 1);
    EXPECT_EQ(systemSoundAvailable(sys), 0);
    EXPECT_EQ(chooseRecordingLine(1, sys), 0);
    EXPECT_EQ(chooseRecordingLine(0, sys), 1);
    EXPECT_EQ(sys.state.opens, 0);
}
