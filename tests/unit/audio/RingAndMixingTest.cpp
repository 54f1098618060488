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

// Frames of one byte each make positions easy to read back.
std::vector<uint8_t> frames(int count, int first) {
    std::vector<uint8_t> v(static_cast<size_t>(count));
    std::iota(v.begin(), v.end(), uint8_t(first));
    return v;
}

TEST(AudioRing, FramesAreReadAtTheirPositionsAndWhatIsMissingIsSilence) {
    CAudioRing ring(100, 1);
    std::vector<uint8_t> out(10, 0xEE);
    EXPECT_EQ(ring.read(0, out.data(), 10), 0) << "nothing written: all silence";
    EXPECT_EQ(out, std::vector<uint8_t>(10, 0));

    // A short read: the frames not yet written are silence, the rest are where they belong.
    ring.write(0, frames(6, 1).data(), 6);
    EXPECT_EQ(ring.end(), 6);
    EXPECT_EQ(ring.read(2, out.data(), 10), 4);
    EXPECT_EQ(out, (std::vector<uint8_t>{3, 4, 5, 6, 0, 0, 0, 0, 0, 0}));

    // A stall and then a burst: the burst lands at its own positions, the gap stays silent.
    ring.write(20, frames(30, 21).data(), 30);
    EXPECT_EQ(ring.end(), 50);
    EXPECT_EQ(ring.read(4, out.data(), 10), 10);
    EXPECT_EQ(out, (std::vector<uint8_t>{5, 6, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(ring.read(18, out.data(), 10), 10);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 21, 22, 23, 24, 25, 26, 27, 28}));
    // Reading does not take anything away: the same positions read again alike.
    EXPECT_EQ(ring.read(18, out.data(), 10), 10);
    EXPECT_EQ(out[2], 21);
}

TEST(AudioRing, KeepsTheNewestFramesAcrossTheWrapInWholeFrames) {
    CAudioRing ring(10, 2);   // five frames of two bytes
    std::vector<uint8_t> a = frames(8, 1), out(8);
    ring.write(0, a.data(), 8);            // frames 0..3
    ring.write(4, frames(6, 9).data(), 6); // frames 4..6: frames 0 and 1 are overwritten
    EXPECT_EQ(ring.end(), 7);
    EXPECT_EQ(ring.read(0, out.data(), 4), 2);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 0, 5, 6, 7, 8}));
    EXPECT_EQ(ring.read(5, out.data(), 4), 2);
    EXPECT_EQ(out, (std::vector<uint8_t>{11, 12, 13, 14, 0, 0, 0, 0}));
    // A write larger than the ring keeps its newest frames.
    ring.write(10, frames(14, 100).data(), 14);   // frames 10..16
    EXPECT_EQ(ring.end(), 17);
    EXPECT_EQ(ring.read(10, out.data(), 4), 2);
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 0, 104, 105, 106, 107}));
    // A gap longer than the ring leaves nothing of what came before.
    ring.write(40, frames(2, 50).data(), 2);
    EXPECT_EQ(ring.read(14, out.data(), 4), 0);
}

TEST(AudioRing, TwentySecondsOfMicrophoneBlocksAreKeptAndClosingIsSeen) {
    // 25 s of 44.1 kHz stereo microphone blocks into a 20 s ring: the last 20 s remain.
    const int second = 176400, frameBytes = 4, perSecond = second / frameBytes;
    CAudioRing ring(20 * second, frameBytes);
    std::vector<uint8_t> block(19200);
    int64_t position = 0;
    int i = 0;
    for (; position < 25 * perSecond; ++i, position += 19200 / frameBytes) {
        std::fill(block.begin(), block.end(), uint8_t(i));
        ring.write(position, block.data(), 19200);
    }
    std::vector<uint8_t> out(8);
    EXPECT_EQ(ring.read(position - 1, out.data(), 2), 1);
    EXPECT_EQ(out[0], uint8_t(i - 1));
    EXPECT_EQ(ring.read(position - 20 * perSecond, out.data(), 1), 1);
    EXPECT_EQ(ring.read(position - 20 * perSecond - 1, out.data(), 1), 0);
    EXPECT_FALSE(ring.closed());
    ring.close();
    EXPECT_TRUE(ring.closed());
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
