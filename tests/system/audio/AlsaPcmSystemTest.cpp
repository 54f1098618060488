// The ALSA capture path, which the recorder uses when no sound server runs, exercised through
// ALSA's "pulse" PCM on the private sound server (the machines have no sound card).

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/alsa/AlsaPcm.h"

using namespace torvane::alsa;

TEST(AlsaPcm, CapabilitiesAndCaptureOfTheSineSource) {
    PcmCapabilities caps;
    std::string error;
    ASSERT_TRUE(captureCapabilities("pulse", &caps, &error)) << error;
    EXPECT_TRUE(caps.rate44100[1][1]);
    EXPECT_TRUE(caps.rate48000[2][1]);

    auto pcm = CapturePcm::open("pulse", 44100, 1, 16, 4800, &error);
    ASSERT_NE(pcm, nullptr) << error;
    EXPECT_EQ(pcm->frameBytes(), 2u);
    std::vector<int16_t> all;
    std::vector<int16_t> buf(4096);
    auto begin = std::chrono::steady_clock::now();
    while (all.size() < 44100 * 3 / 2 && std::chrono::steady_clock::now() - begin < std::chrono::seconds(5)) {
        int n = pcm->read(buf.data(), buf.size() * 2, 200);
        ASSERT_GE(n, 0) << pcm->error();
        EXPECT_EQ(n % 2, 0);
        all.insert(all.end(), buf.begin(), buf.begin() + n / 2);
    }
    ASSERT_GE(all.size(), 44100u * 3 / 2);
    // The last second holds the 440 Hz sine: 880 sign changes.
    int crossings = 0;
    for (size_t i = all.size() - 44100 + 1; i < all.size(); ++i) crossings += (all[i - 1] < 0) != (all[i] < 0);
    EXPECT_NEAR(crossings, 880, 6);

    // A reader waiting for data can be released at once.
    pcm->interrupt();
    auto t = std::chrono::steady_clock::now();
    EXPECT_EQ(pcm->read(buf.data(), buf.size() * 2, 2000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t, std::chrono::milliseconds(100));
}

TEST(AlsaPcm, UnsupportedFormatsAndMissingDevicesAreRefused) {
    std::string error;
    EXPECT_EQ(CapturePcm::open("pulse", 44100, 3, 16, 4800, &error), nullptr);
    EXPECT_EQ(CapturePcm::open("pulse", 44100, 1, 24, 4800, &error), nullptr);
    EXPECT_EQ(CapturePcm::open("no_such_pcm_device", 44100, 1, 16, 4800, &error), nullptr);
    EXPECT_NE(error.find("no sound input device"), std::string::npos) << error;
}
