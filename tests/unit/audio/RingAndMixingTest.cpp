#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "audio/AudioRing.h"
#include "audio/SampleMixing.h"
#include "audio/WaveFormat.h"

using namespace torvane;

TEST(SampleMixing, KneeCompressesLoudSumsAndKeepsQuietOnesExact) {
    EXPECT_EQ(mixSample(30000, 30000), 30922);
    EXPECT_EQ(mixSample(32767, 32767), 32767);
    EXPECT_EQ(mixSample(20000, -5000), 15000);
    EXPECT_EQ(mixSample(-20000, -20000), -24256);
    EXPECT_EQ(mixSample(-32768, -32768), -32768);
    EXPECT_EQ(mixSample(16000, 385), 16384);     // sum 16385
    EXPECT_EQ(mixSample(-16000, -385), -16384);  // sum -16385
    EXPECT_EQ(mixSample(16000, 384), 16384);
    EXPECT_EQ(mixSample(-1, 1), 0);
    int16_t a[3] = {30000, -20000, 7}, b[3] = {30000, -20000, -7};
    mixSamples(a, b, 3);
    EXPECT_EQ(a[0], 30922);
    EXPECT_EQ(a[1], -24256);
    EXPECT_EQ(a[2], 0);
}

TEST(AudioRing, ShortReadTakesNothing) {
    CAudioRing ring(1000);
    std::vector<uint8_t> block(1000, 7), packet(1920);
    ring.write(block.data(), 1000);
    EXPECT_EQ(ring.fillLevel(), 1000);
    EXPECT_FALSE(ring.read(packet.data(), 1920));
    EXPECT_EQ(ring.fillLevel(), 1000);
    EXPECT_TRUE(ring.read(packet.data(), 1000));
    EXPECT_EQ(ring.fillLevel(), 0);
    EXPECT_EQ(packet[999], 7);
}

TEST(AudioRing, KeepsOnlyTheNewestBytesAcrossTheWrap) {
    CAudioRing ring(10);
    std::vector<uint8_t> a(6), b(6), out(10);
    std::iota(a.begin(), a.end(), 1);   // 1..6
    std::iota(b.begin(), b.end(), 7);   // 7..12
    ring.write(a.data(), 6);
    ring.write(b.data(), 6);
    EXPECT_EQ(ring.fillLevel(), 10);
    ASSERT_TRUE(ring.read(out.data(), 10));
    EXPECT_EQ(out, (std::vector<uint8_t>{3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(ring.fillLevel(), 0);

    // After emptying, writing restarts cleanly; reads wrap.
    ring.write(a.data(), 6);
    ASSERT_TRUE(ring.read(out.data(), 4));
    ring.write(b.data(), 6);   // wraps past the end
    EXPECT_EQ(ring.fillLevel(), 8);
    ASSERT_TRUE(ring.read(out.data(), 8));
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 8), (std::vector<uint8_t>{5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(AudioRing, BlockLargerThanTheRingIsDroppedAndTwentySecondsAreKept) {
    CAudioRing small(8);
    std::vector<uint8_t> big(9, 1);
    small.write(big.data(), 9);
    EXPECT_EQ(small.fillLevel(), 0);

    // 25 s of 44.1 kHz stereo microphone blocks into a 20 s ring: the last 20 s remain.
    const int second = 176400;
    CAudioRing ring(20 * second);
    std::vector<uint8_t> block(19200);
    int written = 0;
    for (int i = 0; written < 25 * second; ++i, written += 19200) {
        std::fill(block.begin(), block.end(), uint8_t(i));
        ring.write(block.data(), 19200);
    }
    EXPECT_EQ(ring.fillLevel(), 20 * second);
    std::vector<uint8_t> all(20 * second);
    ASSERT_TRUE(ring.read(all.data(), 20 * second));
    int blocks = written / 19200;
    EXPECT_EQ(all.back(), uint8_t(blocks - 1));   // newest byte last
    // The oldest kept byte is from the block that was written 20 s before the end.
    int firstKept = written - 20 * second;
    EXPECT_EQ(all.front(), uint8_t(firstKept / 19200));
}

TEST(FormatChoice, FirstCapabilityBitInTableOrderDecides) {
    WaveFormat f = formatFromCapabilities(kCaps48M16, true);
    EXPECT_EQ(f.formatTag, 1);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.bitsPerSample, 16);
    EXPECT_EQ(f.samplesPerSec, 44100u);
    EXPECT_EQ(f.blockAlign, 2);
    EXPECT_EQ(f.avgBytesPerSec, 88200u);
    EXPECT_EQ(f.extraSize, 18);

    f = formatFromCapabilities(kCaps4M08 | kCaps4S16, true);   // 4M08 is tested before 4S16
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.bitsPerSample, 8);
    EXPECT_EQ(f.avgBytesPerSec, 44100u);

    f = formatFromCapabilities(0xFFFF, true);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.bitsPerSample, 16);
    EXPECT_EQ(f.avgBytesPerSec, 176400u);

    for (WaveFormat none : {formatFromCapabilities(0x00FF, true), formatFromCapabilities(0xFFFF, false)}) {
        EXPECT_EQ(none.channels, 0);
        EXPECT_EQ(none.bitsPerSample, 0);
        EXPECT_EQ(none.blockAlign, 0);
        EXPECT_EQ(none.samplesPerSec, 44100u);
    }
}
