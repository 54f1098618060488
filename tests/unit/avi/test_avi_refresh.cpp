// The bytes a refresh brings to disk while the file stays open: what a reader finds if the writer
// dies right after it.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/avi/AviFile.h"
#include "tests/unit/avi/AviTestFormats.h"
#include "tests/unit/avi/RiffReader.h"

using namespace torvane::avi;
using namespace torvane::avi::test;

namespace {

// Each listed ix## of a super index: chunk count and duration.
struct Listed {
    uint32_t chunks = 0, duration = 0, parts = 0;
};

Listed walkSuperIndex(const RiffFile& f, const Chunk& indx, const std::string& ixId, const std::string& chunkId) {
    Listed l;
    const uint64_t x = indx.dataOffset;
    EXPECT_EQ(f.u8(x + 3), 0u);   // index of indexes
    l.parts = f.u32(x + 4);
    for (uint32_t k = 0; k < l.parts; ++k) {
        const uint64_t e = x + 24 + 16 * k;
        const uint64_t ix = f.u64(e);
        EXPECT_EQ(f.text(ix), ixId);
        EXPECT_EQ(f.u32(e + 8), f.u32(ix + 4) + 8);
        const uint32_t n = f.u32(ix + 12);
        const uint64_t base = f.u64(ix + 20);
        for (uint32_t j = 0; j < n; ++j) EXPECT_EQ(f.text(base + f.u32(ix + 32 + 8 * j) - 8), chunkId);
        l.chunks += n;
        l.duration += f.u32(e + 12);
    }
    return l;
}

}  // namespace

TEST(AviRefresh, AnOpenFileDescribesWhatTheLastRefreshCovered) {
    TempDir dir;
    const std::string path = dir.file("open.avi");
    auto file = AviFile::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));
    const StreamInfo vinfo = videoInfo(64, 48, 10);
    const auto bih = bitmapInfo(vinfo);
    const auto wave = waveFormat(8000, 1, 16);
    AviStream* video = file->createStream(vinfo);
    AviStream* audio = file->createStream(audioInfo(wave));
    ASSERT_TRUE(file->setFormat(video, bih.data(), bih.size()));
    ASSERT_TRUE(file->setFormat(audio, wave.data(), wave.size()));
    const auto frame = payload(301, 3);   // odd: padded
    const auto block = payload(1600, 4);  // 800 samples, a tenth of a second
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(video->write(i, 1, frame.data(), frame.size(), i == 0 ? kKeyframe : 0));
        ASSERT_TRUE(audio->write(800 * i, 800, block.data(), block.size(), 0));
    }
    ASSERT_TRUE(file->refresh()) << file->lastError();
    // After the refresh: five more frames (two skipped), unindexed until the next one.
    for (int i = 10; i < 15; ++i) ASSERT_TRUE(video->write(i + 2, 1, frame.data(), frame.size(), 0));
    const auto afterFirst = std::filesystem::file_size(path);
    {
        RiffFile f(path);   // as a reader finds it now, the writer still open
        const Chunk& riff = f.root.children.at(0);
        const Chunk* movi = riff.find("LIST", "movi");
        ASSERT_TRUE(movi);
        // Sizes of the refresh: the chunks after it lie beyond the RIFF's end.
        EXPECT_GT(riff.size, 0u);
        EXPECT_LT(riff.size + 8u, afterFirst);
        EXPECT_EQ(movi->offset + 8 + movi->size, riff.offset + 8 + riff.size);
        EXPECT_TRUE(movi->find("ix00"));
        EXPECT_TRUE(movi->find("ix01"));
        const Chunk* hdrl = riff.find("LIST", "hdrl");
        EXPECT_EQ(f.u32(hdrl->find("avih")->dataOffset + 16), 10u);
        ASSERT_TRUE(hdrl->find("LIST", "odml"));
        EXPECT_EQ(f.u32(hdrl->find("LIST", "odml")->find("dmlh")->dataOffset), 10u);
        const auto strls = hdrl->all("LIST", "strl");
        ASSERT_EQ(strls.size(), 2u);
        EXPECT_EQ(f.u32(strls[0]->find("strh")->dataOffset + 32), 10u);
        EXPECT_EQ(f.u32(strls[1]->find("strh")->dataOffset + 32), 8000u);
        const Listed v = walkSuperIndex(f, *strls[0]->find("indx"), "ix00", "00dc");
        EXPECT_EQ(v.parts, 1u);
        EXPECT_EQ(v.chunks, 10u);
        EXPECT_EQ(v.duration, 10u);
        const Listed a = walkSuperIndex(f, *strls[1]->find("indx"), "ix01", "01wb");
        EXPECT_EQ(a.chunks, 10u);
        EXPECT_EQ(a.duration, 8000u);
    }
    // A second refresh adds a part for what came since (gap entries included), none for a stream
    // without new chunks.
    ASSERT_TRUE(file->refresh());
    {
        RiffFile f(path);
        const auto strls = f.root.children.at(0).find("LIST", "hdrl")->all("LIST", "strl");
        const Listed v = walkSuperIndex(f, *strls[0]->find("indx"), "ix00", "00dc");
        EXPECT_EQ(v.parts, 2u);
        EXPECT_EQ(v.chunks, 17u);
        EXPECT_EQ(v.duration, 17u);
        EXPECT_EQ(walkSuperIndex(f, *strls[1]->find("indx"), "ix01", "01wb").parts, 1u);
        EXPECT_EQ(f.root.children.at(0).size + 8u, f.bytes.size());   // nothing written after it
    }
    // Finished, a single segment is a plain file again: JUNK for the super index, idx1 for all.
    ASSERT_TRUE(file->release());
    RiffFile f(path);
    EXPECT_FALSE(f.truncated);
    const Chunk& riff = f.root.children.at(0);
    EXPECT_EQ(riff.size + 8u, f.bytes.size());
    ASSERT_TRUE(riff.find("idx1"));
    EXPECT_EQ(riff.find("idx1")->size, 16u * (17 + 10));
    EXPECT_FALSE(riff.find("LIST", "hdrl")->find("LIST", "strl")->find("indx"));
}

// Empty entries after the last picture are listed only once a picture follows them: a reader that
// skips empty entries would otherwise find the video shorter than the headers say.
TEST(AviRefresh, PicturesAreListedUpToTheLastOne) {
    TempDir dir;
    const std::string path = dir.file("trail.avi");
    auto file = AviFile::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));
    const auto [video, audio] = addVideoAndSound(*file, videoInfo(64, 48, 10));
    ASSERT_TRUE(video && audio);
    const auto frame = payload(120, 5);
    const auto block = payload(1600, 6);
    ASSERT_TRUE(video->write(0, 1, frame.data(), frame.size(), kKeyframe));
    ASSERT_TRUE(video->write(1, 1, frame.data(), frame.size(), 0));
    for (int64_t p = 2; p < 6; ++p) ASSERT_TRUE(video->writeEmpty(p));
    ASSERT_TRUE(audio->write(0, 4800, payload(9600, 7).data(), 9600, 0));
    auto listed = [&](uint32_t& videoLength, Listed& v, Listed& a) {
        RiffFile f(path);
        const auto strls = f.root.children.at(0).find("LIST", "hdrl")->all("LIST", "strl");
        videoLength = f.u32(strls[0]->find("strh")->dataOffset + 32);
        v = walkSuperIndex(f, *strls[0]->find("indx"), "ix00", "00dc");
        a = walkSuperIndex(f, *strls[1]->find("indx"), "ix01", "01wb");
    };
    ASSERT_TRUE(file->refresh()) << file->lastError();
    uint32_t length = 0;
    Listed v, a;
    listed(length, v, a);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(v.chunks, 2u);
    EXPECT_EQ(v.duration, 2u);
    EXPECT_EQ(a.duration, 4800u);   // sound is listed whole
    // Only empty entries since: nothing more is listed.
    ASSERT_TRUE(video->writeEmpty(6));
    ASSERT_TRUE(file->refresh());
    listed(length, v, a);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(v.parts, 1u);
    // A picture after them lists them all.
    ASSERT_TRUE(video->write(7, 1, frame.data(), frame.size(), 0));
    ASSERT_TRUE(audio->write(4800, 800, block.data(), block.size(), 0));
    ASSERT_TRUE(file->refresh());
    listed(length, v, a);
    EXPECT_EQ(length, 8u);
    EXPECT_EQ(v.chunks, 8u);
    EXPECT_EQ(v.duration, 8u);
    EXPECT_EQ(a.duration, 5600u);
    ASSERT_TRUE(file->release());
    RiffFile f(path);
    EXPECT_EQ(f.u32(f.root.children.at(0).find("LIST", "hdrl")->all("LIST", "strl")[0]->find("strh")->dataOffset + 32), 8u);
}

TEST(AviRefresh, TheFlushThreadRefreshesOnItsOwn) {
    TempDir dir;
    const std::string path = dir.file("timed.avi");
    auto file = AviFile::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(50));
    AviStream* video = addVideo(*file, videoInfo(64, 48, 10));
    ASSERT_TRUE(video);
    const auto frame = payload(100, 1);
    ASSERT_TRUE(video->write(0, 1, frame.data(), frame.size(), kKeyframe));
    uint32_t listed = 0;
    for (int tries = 0; tries < 200 && listed == 0; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        RiffFile f(path);
        const Chunk* hdrl = f.root.children.empty() ? nullptr : f.root.children[0].find("LIST", "hdrl");
        if (hdrl) listed = f.u32(hdrl->find("avih")->dataOffset + 16);
    }
    EXPECT_EQ(listed, 1u);
    EXPECT_TRUE(file->release());
}
