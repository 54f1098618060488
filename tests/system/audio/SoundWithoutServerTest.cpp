// No sound server and no sound card: every sound option fails to start, quickly.

#include <gtest/gtest.h>

#include <chrono>

#include "audio/AudioSink.h"
#include "audio/MixerLines.h"
#include "audio/SoundCapture.h"
#include "audio/SoundPlatform.h"

using namespace torvane;

namespace {
struct CountingSink : IAudioSink {
    int writes = 0;
    bool write(int64_t, int, const void*, size_t) override { return ++writes > 0; }
};
}  // namespace

TEST(SoundWithoutServer, EveryOptionFailsToStartWithoutHanging) {
    detectSoundPlatform();
    EXPECT_FALSE(g_bVistaOrLater);
    for (int option = 0; option <= 2; ++option) {
        auto begin = std::chrono::steady_clock::now();
        CountingSink sink;
        CSoundCapture capture(1, option);
        capture.setAudioSink(&sink);
        EXPECT_NE(capture.start(), 0) << "option " << option;
        EXPECT_NE(capture.lastError().find("device"), std::string::npos) << capture.lastError();
        capture.stopSources();
        EXPECT_EQ(capture.lossReport(), "");
        EXPECT_EQ(sink.writes, 0);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 2.0);
    }
}

TEST(SoundWithoutServer, StartWithoutAStreamIsRefused) {
    CSoundCapture capture(1, 0);
    EXPECT_NE(capture.start(), 0);
    EXPECT_EQ(capture.lastError(), "no audio stream to write to");
}

TEST(SoundWithoutServer, NoCardMeansNoSystemSoundChoice) {
    EXPECT_EQ(systemSoundAvailable(), 0);
    EXPECT_EQ(chooseRecordingLine(1), 1);
}
