// Refusals of bad calls, I/O failures, and two writer threads at once.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include <thread>

#include "platform/avi/AviFile.h"
#include "tests/unit/avi/AviTestFormats.h"
#include "tests/unit/avi/RiffReader.h"

namespace torvane::avi::test {
namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(AviErrors, CreateNamesThePathAndTheReason) {
    std::string error;
    EXPECT_FALSE(AviFile::create("/nonexistent-dir/x.avi", &error));
    EXPECT_TRUE(contains(error, "/nonexistent-dir/x.avi")) << error;
    EXPECT_TRUE(contains(error, "No such file or directory")) << error;
    EXPECT_FALSE(AviFile::create("", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(AviFile::create("/nonexistent-dir/x.avi", nullptr));
}

TEST(AviErrors, BadCallsAreRefusedWithAReason) {
    TempDir dir;
    auto file = AviFile::create(dir.file("bad.avi"), nullptr);
    auto other = AviFile::create(dir.file("other.avi"), nullptr);
    ASSERT_TRUE(file && other);
    const StreamInfo vinfo = videoInfo(64, 64, 30);
    const auto bih = bitmapInfo(vinfo);

    StreamInfo badType = vinfo;
    badType.fccType = fourcc('t', 'x', 't', 's');
    EXPECT_FALSE(file->createStream(badType));
    StreamInfo zeroRate = vinfo;
    zeroRate.rate = 0;
    EXPECT_FALSE(file->createStream(zeroRate));
    EXPECT_TRUE(contains(file->lastError(), "rate")) << file->lastError();
    StreamInfo hugeFrame = vinfo;
    hugeFrame.frameRight = 40000;
    EXPECT_FALSE(file->createStream(hugeFrame));

    AviStream* video = file->createStream(vinfo);
    AviStream* foreign = other->createStream(vinfo);
    ASSERT_TRUE(video && foreign);
    EXPECT_FALSE(file->setFormat(nullptr, bih.data(), bih.size()));
    EXPECT_FALSE(file->setFormat(foreign, bih.data(), bih.size()));
    EXPECT_TRUE(contains(file->lastError(), "not a stream of")) << file->lastError();
    EXPECT_FALSE(file->setFormat(video, nullptr, 40));
    EXPECT_FALSE(file->setFormat(video, bih.data(), 0));
    EXPECT_EQ(file->startStream(nullptr), -1);
    EXPECT_EQ(file->startStream(foreign), -1);
    file->releaseStream(nullptr);
    file->releaseStream(foreign);

    // No format yet: the first write cannot lay out the headers.
    const uint8_t frame[16] = {1, 2, 3};
    EXPECT_FALSE(video->write(0, 1, frame, sizeof frame, kKeyframe));
    EXPECT_TRUE(contains(file->lastError(), "no format")) << file->lastError();
    ASSERT_TRUE(file->setFormat(video, bih.data(), bih.size()));

    EXPECT_FALSE(video->write(0, 1, frame, 0, 0));          // no bytes
    EXPECT_FALSE(video->write(0, 1, nullptr, 16, 0));       // no data
    EXPECT_FALSE(video->write(0, 0, frame, sizeof frame, 0));
    EXPECT_FALSE(video->write(0, 2, frame, sizeof frame, 0));
    EXPECT_FALSE(video->write(-1, 1, frame, sizeof frame, 0));
    EXPECT_FALSE(video->write(0, 1, frame, sizeof frame, 0x1234));
    EXPECT_FALSE(video->write(int64_t(1) << 40, 1, frame, sizeof frame, 0));
    EXPECT_EQ(video->length(), 0);

    ASSERT_TRUE(video->write(0, 1, frame, sizeof frame, kKeyframe));
    // A format is fixed once the stream has samples.
    EXPECT_FALSE(file->setFormat(video, bih.data(), bih.size()));
    file->releaseStream(video);
    EXPECT_FALSE(video->write(1, 1, frame, sizeof frame, 0));
    EXPECT_EQ(file->firstWriteErrno(), 0);
    EXPECT_EQ(file->firstWriteError(), "");
    EXPECT_TRUE(contains(file->lastError(), "released")) << file->lastError();
    EXPECT_FALSE(file->writeFailed());   // refusals are not write failures
    EXPECT_TRUE(file->release()) << file->lastError();
    EXPECT_FALSE(video->write(1, 1, frame, sizeof frame, 0));
    EXPECT_EQ(file->startStream(video), -1);
    EXPECT_FALSE(file->createStream(vinfo));

    // A file without streams cannot become an AVI.
    auto empty = AviFile::create(dir.file("empty.avi"), nullptr);
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->release());
    EXPECT_TRUE(contains(empty->lastError(), "no streams")) << empty->lastError();
}

TEST(AviErrors, FailedWritesAreReportedAndKeepTheFirstReason) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    auto file = AviFile::create("/dev/full", nullptr);
    ASSERT_TRUE(file);
    AviStream* video = addVideo(*file, videoInfo(64, 64, 30));
    ASSERT_TRUE(video);
    const uint8_t frame[100] = {};
    EXPECT_FALSE(video->write(0, 1, frame, sizeof frame, kKeyframe));
    EXPECT_TRUE(file->writeFailed());
    const std::string first = file->lastError();
    EXPECT_TRUE(contains(first, "/dev/full")) << first;
    EXPECT_TRUE(contains(first, "No space left")) << first;
    EXPECT_EQ(file->firstWriteErrno(), ENOSPC);
    EXPECT_EQ(file->firstWriteError(), first);
    EXPECT_EQ(video->length(), 0);   // a lost frame leaves its position empty
    EXPECT_FALSE(video->write(-5, 1, frame, sizeof frame, 0));
    EXPECT_EQ(file->lastError(), first);
    EXPECT_FALSE(file->release());
    EXPECT_FALSE(file->release());
}

TEST(AviErrors, AFileThatOutgrowsItsSegmentIndexStopsCleanly) {
    TempDir dir;
    const std::string path = dir.file("full.avi");
    auto file = AviFile::create(path, nullptr, 4096);
    ASSERT_TRUE(file);
    AviStream* video = addVideo(*file, videoInfo(64, 64, 30));
    ASSERT_TRUE(video);
    const std::vector<uint8_t> frame(5000, 7);   // one frame per segment
    int written = 0;
    while (written < 1000 && video->write(written, 1, frame.data(), frame.size(), kKeyframe)) ++written;
    EXPECT_EQ(written, 256);
    EXPECT_TRUE(file->writeFailed());
    EXPECT_TRUE(contains(file->lastError(), "size limit")) << file->lastError();
    EXPECT_EQ(file->firstWriteErrno(), EFBIG);
    EXPECT_FALSE(file->release());
    // What was written is complete and indexed.
    RiffFile f(path);
    EXPECT_FALSE(f.truncated);
    ASSERT_EQ(f.root.children.size(), 256u);
    const Chunk* strl = f.root.children[0].find("LIST", "hdrl")->find("LIST", "strl");
    EXPECT_EQ(f.u32(strl->find("indx")->dataOffset + 4), 256u);
    EXPECT_EQ(f.u32(strl->find("strh")->dataOffset + 32), 256u);
}

// The recorder's two writers: video from the capture thread, audio from the sound thread.
TEST(AviThreads, OneWriterPerStreamConcurrently) {
    TempDir dir;
    const std::string path = dir.file("threads.avi");
    auto file = AviFile::create(path, nullptr, 256 * 1024);   // also crosses segments while racing
    ASSERT_TRUE(file);
    const StreamInfo vinfo = videoInfo(320, 240, 30);
    const auto bih = bitmapInfo(vinfo);
    const auto wave = waveFormat(44100, 2, 16);
    AviStream* video = file->createStream(vinfo);
    AviStream* audio = file->createStream(audioInfo(wave));
    ASSERT_TRUE(file->setFormat(video, bih.data(), bih.size()));
    ASSERT_TRUE(file->setFormat(audio, wave.data(), wave.size()));
    constexpr int kCount = 1500;
    int videoFailures = 0, audioFailures = 0;
    std::thread vt([&] {
        std::vector<uint8_t> frame;
        for (int i = 0; i < kCount; ++i) {
            frame.assign(200 + size_t(i % 50), uint8_t(i));
            // Every third position is skipped, as when a turn comes too late.
            const int64_t pos = i + i / 3;
            if (!video->write(pos, 1, frame.data(), frame.size(), i % 10 == 0 ? kKeyframe : 0))
                ++videoFailures;
            (void)video->length();
        }
    });
    std::thread at([&] {
        std::vector<uint8_t> block(4 * 147);
        for (int i = 0; i < kCount; ++i) {
            std::fill(block.begin(), block.end(), uint8_t(i * 3));
            if (!audio->write(int64_t(i) * 147, 147, block.data(), block.size(), 0)) ++audioFailures;
        }
    });
    vt.join();
    at.join();
    EXPECT_EQ(videoFailures, 0);
    EXPECT_EQ(audioFailures, 0);
    EXPECT_EQ(video->length(), (kCount - 1) + (kCount - 1) / 3 + 1);
    EXPECT_EQ(audio->length(), kCount * 147);
    ASSERT_TRUE(file->release()) << file->lastError();

    // Every chunk is intact and each stream's chunks are in order.
    RiffFile f(path);
    ASSERT_FALSE(f.truncated);
    ASSERT_GT(f.root.children.size(), 1u);
    int v = 0, a = 0;
    for (const auto& riff : f.root.children) {
        const Chunk* movi = riff.find("LIST", "movi");
        ASSERT_TRUE(movi);
        for (const auto& c : movi->children) {
            if (c.id == "00dc" && c.size > 0) {
                const auto d = f.data(c);
                ASSERT_EQ(d.size(), 200 + size_t(v % 50)) << v;
                EXPECT_EQ(std::count(d.begin(), d.end(), uint8_t(v)), long(d.size())) << v;
                ++v;
            } else if (c.id == "01wb") {
                const auto d = f.data(c);
                ASSERT_EQ(d.size(), 4u * 147) << a;
                EXPECT_EQ(std::count(d.begin(), d.end(), uint8_t(a * 3)), long(d.size())) << a;
                ++a;
            }
        }
    }
    EXPECT_EQ(v, kCount);
    EXPECT_EQ(a, kCount);
}

}  // namespace
}  // namespace torvane::avi::test
