// No sound server and no sound card: every sound option fails to start, quickly.

#include <gtest/gtest.h>

#include <chrono>

#include "audio/MixerLines.h"
#include "audio/SoundCapture.h"
#include "audio/SoundPlatform.h"

using namespace torvane;

TEST(SoundWithoutServer, EveryOptionFailsToStartWithoutHanging) {
    detectSoundPlatform();
    EXPECT_FALSE(g_bVistaOrLater);
    for (int option = 0; option <= 2; ++option) {
        auto begin = std::chrono::steady_clock::now();
        CSoundCapture capture(1, option);
        EXPECT_NE(capture.start(), 0) << "option " << option;
        EXPECT_FALSE(capture.lastError().empty());
        capture.stopSources();
        EXPECT_EQ(capture.lossReport(), "");
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 2.0);
    }
}

TEST(SoundWithoutServer, NoCardMeansNoSystemSoundChoice) {
    EXPECT_EQ(systemSoundAvailable(), 0);
    EXPECT_EQ(chooseRecordingLine(1), 1);
}
