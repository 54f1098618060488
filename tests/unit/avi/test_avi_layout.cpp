// The bytes of finished files: headers, chunks, idx1, gaps, and the multi-segment layout.

#include <gtest/gtest.h>

#include <map>

#include "platform/avi/AviFile.h"
#include "tests/unit/avi/AviTestFormats.h"
#include "tests/unit/avi/RiffReader.h"

namespace torvane::avi::test {
namespace {

struct Idx1Entry {
    std::string id;
    uint32_t flags, offset, size;
};

std::vector<Idx1Entry> readIdx1(const RiffFile& f, const Chunk& idx1) {
    std::vector<Idx1Entry> r;
    for (uint64_t at = idx1.dataOffset; at + 16 <= idx1.dataOffset + idx1.dataSize; at += 16)
        r.push_back({f.text(at), f.u32(at + 4), f.u32(at + 8), f.u32(at + 12)});
    return r;
}

TEST(AviLayout, HeadersFormatsChunksAndIndex) {
    TempDir dir;
    const std::string path = dir.file("a.avi");
    std::string error;
    auto file = AviFile::create(path, &error);
    ASSERT_TRUE(file) << error;
    file->setRefreshInterval(std::chrono::milliseconds(0));   // exact chunk lists
    const StreamInfo vinfo = videoInfo(802, 602, 30);
    const std::vector<uint8_t> bih = bitmapInfo(vinfo);
    std::vector<uint8_t> wave = waveFormat(44100, 2, 16);
    wave[16] = 0x5A;   // cbSize is stored as given
    AviStream* video = file->createStream(vinfo);
    ASSERT_TRUE(video);
    ASSERT_TRUE(file->setFormat(video, bih.data(), bih.size()));
    EXPECT_EQ(file->startStream(video), 0);
    AviStream* audio = file->createStream(audioInfo(wave));
    ASSERT_TRUE(audio);
    ASSERT_TRUE(file->setFormat(audio, wave.data(), wave.size()));
    EXPECT_EQ(file->startStream(audio), 0);

    const auto f0 = payload(1001, 1), f1 = payload(300, 2), f2 = payload(64, 3);
    const auto a0 = payload(4 * 441, 4);
    ASSERT_TRUE(video->write(0, 1, f0.data(), f0.size(), kKeyframe));
    ASSERT_TRUE(audio->write(0, 441, a0.data(), a0.size(), 0));
    ASSERT_TRUE(video->write(1, 1, f1.data(), f1.size(), 0));
    ASSERT_TRUE(audio->write(441, 441, a0.data(), a0.size(), 0));
    ASSERT_TRUE(video->write(2, 1, f2.data(), f2.size(), 0));
    EXPECT_EQ(video->length(), 3);
    EXPECT_EQ(audio->length(), 882);
    file->releaseStream(video);
    file->releaseStream(audio);
    ASSERT_TRUE(file->release()) << file->lastError();
    EXPECT_TRUE(file->release());   // idempotent

    RiffFile f(path);
    ASSERT_FALSE(f.truncated);
    ASSERT_EQ(f.root.children.size(), 1u);
    const Chunk& riff = f.root.children[0];
    EXPECT_EQ(riff.id, "RIFF");
    EXPECT_EQ(riff.listType, "AVI ");
    EXPECT_EQ(uint64_t(riff.size) + 8, f.bytes.size());
    const Chunk* hdrl = riff.find("LIST", "hdrl");
    ASSERT_TRUE(hdrl);
    const Chunk* avih = hdrl->find("avih");
    ASSERT_TRUE(avih);
    ASSERT_EQ(avih->size, 56u);
    const uint64_t h = avih->dataOffset;
    EXPECT_EQ(f.u32(h + 0), 33333u);   // microseconds per frame
    EXPECT_EQ(f.u32(h + 12), 0x10u);   // AVIF_HASINDEX
    EXPECT_EQ(f.u32(h + 16), 3u);      // total frames
    EXPECT_EQ(f.u32(h + 24), 2u);      // streams
    EXPECT_EQ(f.u32(h + 28), 1764u);   // largest chunk of any stream
    EXPECT_EQ(f.u32(h + 32), 804u);
    EXPECT_EQ(f.u32(h + 36), 604u);

    const auto strls = hdrl->all("LIST", "strl");
    ASSERT_EQ(strls.size(), 2u);
    const Chunk* vstrh = strls[0]->find("strh");
    ASSERT_TRUE(vstrh);
    ASSERT_EQ(vstrh->size, 56u);
    const uint64_t v = vstrh->dataOffset;
    EXPECT_EQ(f.text(v), "vids");
    EXPECT_EQ(f.text(v + 4), "x264");
    EXPECT_EQ(f.u32(v + 8), 0u);
    EXPECT_EQ(f.u32(v + 20), 1u);            // scale
    EXPECT_EQ(f.u32(v + 24), 30u);           // rate
    EXPECT_EQ(f.u32(v + 28), 0u);            // start
    EXPECT_EQ(f.u32(v + 32), 3u);            // length
    EXPECT_EQ(f.u32(v + 36), 1001u);         // suggested buffer = largest chunk
    EXPECT_EQ(f.u32(v + 40), 0xFFFFFFFFu);   // quality
    EXPECT_EQ(f.u32(v + 44), 0u);            // sample size
    EXPECT_EQ(f.i16(v + 48), 0);
    EXPECT_EQ(f.i16(v + 50), 0);
    EXPECT_EQ(f.i16(v + 52), 804);
    EXPECT_EQ(f.i16(v + 54), 604);
    const Chunk* vstrf = strls[0]->find("strf");
    ASSERT_TRUE(vstrf);
    EXPECT_EQ(f.data(*vstrf), bih);
    EXPECT_EQ(f.u32(vstrf->dataOffset + 4), 804u);   // biWidth

    const uint64_t a = strls[1]->find("strh")->dataOffset;
    EXPECT_EQ(f.text(a), "auds");
    EXPECT_EQ(f.u32(a + 4), 0u);
    EXPECT_EQ(f.u32(a + 20), 4u);
    EXPECT_EQ(f.u32(a + 24), 176400u);
    EXPECT_EQ(f.u32(a + 32), 882u);
    EXPECT_EQ(f.u32(a + 36), 1764u);
    EXPECT_EQ(f.u32(a + 40), 0u);
    EXPECT_EQ(f.u32(a + 44), 4u);
    const Chunk* astrf = strls[1]->find("strf");
    ASSERT_TRUE(astrf);
    EXPECT_EQ(astrf->size, 18u);
    EXPECT_EQ(f.data(*astrf), wave);
    // A single-segment file is plain AVI: no super index, no odml list.
    EXPECT_FALSE(strls[0]->find("indx"));
    EXPECT_FALSE(hdrl->find("LIST", "odml"));

    const Chunk* movi = riff.find("LIST", "movi");
    ASSERT_TRUE(movi);
    ASSERT_EQ(movi->children.size(), 5u);
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> expected = {
        {"00dc", f0}, {"01wb", a0}, {"00dc", f1}, {"01wb", a0}, {"00dc", f2}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(movi->children[i].id, expected[i].first) << i;
        EXPECT_EQ(f.data(movi->children[i]), expected[i].second) << i;
    }
    EXPECT_EQ(movi->children[0].offset % 2, 0u);
    EXPECT_EQ(movi->children[1].offset % 2, 0u);   // after an odd-sized chunk: padded

    const Chunk* idx1 = riff.find("idx1");
    ASSERT_TRUE(idx1);
    const auto entries = readIdx1(f, *idx1);
    ASSERT_EQ(entries.size(), 5u);
    // Sound entries are keyframes, written with flags 0 or not: each PCM block stands alone.
    const uint32_t flags[] = {0x10, 0x10, 0, 0x10, 0};
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].id, expected[i].first);
        EXPECT_EQ(entries[i].flags, flags[i]) << i;
        EXPECT_EQ(entries[i].size, expected[i].second.size());
        // Offsets count from the 'movi' list type.
        EXPECT_EQ(movi->dataOffset - 4 + entries[i].offset, movi->children[i].offset) << i;
    }
}

TEST(AviLayout, SizesThatAreMultiplesOfFourStay) {
    TempDir dir;
    auto file = AviFile::create(dir.file("b.avi"), nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));   // exact chunk lists
    const StreamInfo vinfo = videoInfo(800, 600, 25);
    EXPECT_EQ(vinfo.frameRight, 800);
    EXPECT_EQ(vinfo.frameBottom, 600);
    AviStream* video = file->createStream(vinfo);
    const auto bih = bitmapInfo(vinfo);
    ASSERT_TRUE(file->setFormat(video, bih.data(), bih.size()));
    // Nothing written: the file is still a valid, empty AVI with its headers.
    ASSERT_TRUE(file->release()) << file->lastError();
    RiffFile f(dir.file("b.avi"));
    const Chunk* hdrl = f.root.children.at(0).find("LIST", "hdrl");
    ASSERT_TRUE(hdrl);
    const uint64_t h = hdrl->find("avih")->dataOffset;
    EXPECT_EQ(f.u32(h), 40000u);
    EXPECT_EQ(f.u32(h + 32), 800u);
    EXPECT_EQ(f.u32(h + 36), 600u);
    EXPECT_TRUE(f.root.children[0].find("LIST", "movi"));
    EXPECT_TRUE(f.root.children[0].find("idx1"));
}

TEST(AviLayout, VideoGapsBecomeEmptyChunksAndBackwardsWritesAreRefused) {
    TempDir dir;
    const std::string path = dir.file("gap.avi");
    auto file = AviFile::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));   // exact chunk lists
    const StreamInfo vinfo = videoInfo(640, 480, 30);
    AviStream* video = file->createStream(vinfo);
    const auto bih = bitmapInfo(vinfo);
    ASSERT_TRUE(file->setFormat(video, bih.data(), bih.size()));
    const auto frame = payload(100, 9);
    for (int64_t pos : {0, 1, 2, 5})
        ASSERT_TRUE(video->write(pos, 1, frame.data(), frame.size(), pos == 0 ? kKeyframe : 0));
    EXPECT_EQ(video->length(), 6);

    // Below the length, or at a position already written: refused, nothing written.
    EXPECT_FALSE(video->write(4, 1, frame.data(), frame.size(), 0));
    EXPECT_NE(file->lastError().find("position 4"), std::string::npos) << file->lastError();
    EXPECT_FALSE(video->write(5, 1, frame.data(), frame.size(), 0));
    EXPECT_EQ(video->length(), 6);
    EXPECT_FALSE(file->writeFailed());
    ASSERT_TRUE(video->write(6, 1, frame.data(), frame.size(), kKeyframe));
    ASSERT_TRUE(file->release()) << file->lastError();

    RiffFile f(path);
    const Chunk& riff = f.root.children.at(0);
    const Chunk* movi = riff.find("LIST", "movi");
    ASSERT_TRUE(movi);
    ASSERT_EQ(movi->children.size(), 7u);
    const auto entries = readIdx1(f, *riff.find("idx1"));
    ASSERT_EQ(entries.size(), 7u);
    const uint32_t sizes[] = {100, 100, 100, 0, 0, 100, 100};
    const uint32_t flags[] = {0x10, 0, 0, 0, 0, 0, 0x10};
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(movi->children[i].id, "00dc");
        EXPECT_EQ(movi->children[i].size, sizes[i]) << i;
        EXPECT_EQ(entries[i].size, sizes[i]) << i;
        EXPECT_EQ(entries[i].flags, flags[i]) << i;
        EXPECT_EQ(movi->dataOffset - 4 + entries[i].offset, movi->children[i].offset) << i;
    }
    const uint64_t strh = riff.find("LIST", "hdrl")->find("LIST", "strl")->find("strh")->dataOffset;
    EXPECT_EQ(f.u32(strh + 32), 7u);
}

TEST(AviLayout, AudioGapsAreFilledWithSilence) {
    TempDir dir;
    const std::string path = dir.file("audio.avi");
    auto file = AviFile::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));   // exact chunk lists
    const auto wave16 = waveFormat(48000, 2, 16), wave8 = waveFormat(8000, 1, 8);
    AviStream* a16 = file->createStream(audioInfo(wave16));
    AviStream* a8 = file->createStream(audioInfo(wave8));
    ASSERT_TRUE(a16 && a8);
    ASSERT_TRUE(file->setFormat(a16, wave16.data(), wave16.size()));
    ASSERT_TRUE(file->setFormat(a8, wave8.data(), wave8.size()));
    const auto block = payload(400, 5);   // 100 sample frames of 4 bytes
    ASSERT_TRUE(a16->write(0, 100, block.data(), block.size(), 0));
    ASSERT_TRUE(a16->write(150, 100, block.data(), block.size(), 0));
    EXPECT_EQ(a16->length(), 250);
    EXPECT_FALSE(a16->write(200, 100, block.data(), block.size(), 0));
    EXPECT_EQ(a16->length(), 250);
    // The byte count must match the sample count.
    EXPECT_FALSE(a16->write(250, 99, block.data(), block.size(), 0));
    ASSERT_TRUE(a8->write(3, 5, block.data(), 5, 0));
    EXPECT_EQ(a8->length(), 8);
    ASSERT_TRUE(file->release()) << file->lastError();

    RiffFile f(path);
    const Chunk* movi = f.root.children.at(0).find("LIST", "movi");
    ASSERT_TRUE(movi);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> chunks;
    for (const auto& c : movi->children) chunks.push_back({c.id, f.data(c)});
    ASSERT_EQ(chunks.size(), 5u);
    EXPECT_EQ(chunks[0], std::make_pair(std::string("00wb"), block));
    EXPECT_EQ(chunks[1], std::make_pair(std::string("00wb"), std::vector<uint8_t>(200, 0)));
    EXPECT_EQ(chunks[2], std::make_pair(std::string("00wb"), block));
    EXPECT_EQ(chunks[3], std::make_pair(std::string("01wb"), std::vector<uint8_t>(3, 0x80)));
    EXPECT_EQ(chunks[4],
              std::make_pair(std::string("01wb"), std::vector<uint8_t>(block.begin(), block.begin() + 5)));
    const auto strls = f.root.children[0].find("LIST", "hdrl")->all("LIST", "strl");
    EXPECT_EQ(f.u32(strls[0]->find("strh")->dataOffset + 32), 250u);
    EXPECT_EQ(f.u32(strls[1]->find("strh")->dataOffset + 32), 8u);
}

// The sound stream is created while the capture thread already writes video.
TEST(AviLayout, StreamsAddedAfterTheFirstSampleJoinTheHeaders) {
    TempDir dir;
    const std::string path = dir.file("late.avi");
    auto file = AviFile::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));   // exact chunk lists
    AviStream* video = addVideo(*file, videoInfo(320, 240, 30));
    ASSERT_TRUE(video);
    const auto frame = payload(500, 1);
    ASSERT_TRUE(video->write(0, 1, frame.data(), frame.size(), kKeyframe));
    ASSERT_TRUE(video->write(1, 1, frame.data(), frame.size(), 0));

    const auto wave = waveFormat(48000, 2, 16);
    std::vector<AviStream*> late;
    for (int i = 0; i < 6; ++i) late.push_back(file->createStream(audioInfo(wave)));
    for (AviStream* s : late) ASSERT_TRUE(s);
    const auto block = payload(4 * 160, 2);
    // Written only once it, and every stream before it, has a format.
    EXPECT_FALSE(late[0]->write(0, 160, block.data(), block.size(), 0));
    ASSERT_TRUE(file->setFormat(late[1], wave.data(), wave.size()));
    EXPECT_FALSE(late[1]->write(0, 160, block.data(), block.size(), 0));
    EXPECT_TRUE(file->lastError().find("earlier stream") != std::string::npos) << file->lastError();
    ASSERT_TRUE(file->setFormat(late[0], wave.data(), wave.size()));
    ASSERT_TRUE(late[0]->write(0, 160, block.data(), block.size(), 0));
    ASSERT_TRUE(video->write(2, 1, frame.data(), frame.size(), 0));
    ASSERT_TRUE(late[1]->write(0, 160, block.data(), block.size(), 0));
    // The headers keep room for a few; beyond it the format is refused and the stream stays out.
    int accepted = 2;
    bool refused = false;
    for (size_t i = 2; i < late.size(); ++i) {
        const bool ok = file->setFormat(late[i], wave.data(), wave.size());
        EXPECT_FALSE(ok && refused) << i;   // once there is no room, there is none
        refused |= !ok;
        accepted += ok;
    }
    EXPECT_TRUE(refused);
    EXPECT_GE(accepted, 3);
    EXPECT_TRUE(file->lastError().find("no room") != std::string::npos) << file->lastError();
    ASSERT_TRUE(file->release()) << file->lastError();

    RiffFile f(path);
    ASSERT_FALSE(f.truncated);
    const Chunk& riff = f.root.children.at(0);
    const Chunk* hdrl = riff.find("LIST", "hdrl");
    EXPECT_EQ(f.u32(hdrl->find("avih")->dataOffset + 24), uint32_t(1 + accepted));
    const auto strls = hdrl->all("LIST", "strl");
    ASSERT_EQ(strls.size(), size_t(1 + accepted));
    EXPECT_EQ(f.data(*strls[1]->find("strf")), wave);
    EXPECT_EQ(f.u32(strls[1]->find("strh")->dataOffset + 32), 160u);
    EXPECT_EQ(f.u32(strls[2]->find("strh")->dataOffset + 32), 160u);
    std::vector<std::string> ids;
    for (const auto& c : riff.find("LIST", "movi")->children) ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"00dc", "00dc", "01wb", "00dc", "02wb"}));
    const auto entries = readIdx1(f, *riff.find("idx1"));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[4].id, "02wb");
}

// A chunk as a stream's super index and ix## chunks describe it.
struct IndexedChunk {
    uint64_t offset;   // of the data
    uint32_t size;
    bool key;
};

TEST(AviLayout, LargeFilesContinueInAvixSegmentsWithOpenDmlIndexes) {
    TempDir dir;
    const std::string path = dir.file("odml.avi");
    constexpr uint64_t kLimit = 64 * 1024;
    auto file = AviFile::create(path, nullptr, kLimit);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));   // exact chunk lists
    const StreamInfo vinfo = videoInfo(320, 240, 30);
    const auto bih = bitmapInfo(vinfo);
    const auto wave = waveFormat(8000, 1, 16);
    AviStream* video = file->createStream(vinfo);
    AviStream* audio = file->createStream(audioInfo(wave));
    ASSERT_TRUE(file->setFormat(video, bih.data(), bih.size()));
    ASSERT_TRUE(file->setFormat(audio, wave.data(), wave.size()));
    // 300 frames (a gap of 20 at 100), 3000-byte frames, an audio block every frame.
    std::map<int64_t, std::vector<uint8_t>> frames;
    const auto block = payload(532, 11);   // 266 samples
    int64_t pos = 0;
    for (int i = 0; i < 300; ++i, ++pos) {
        if (i == 100) pos += 20;
        frames[pos] = payload(3000 + size_t(i % 7), uint8_t(i));
        ASSERT_TRUE(video->write(pos, 1, frames[pos].data(), frames[pos].size(), i % 30 == 0 ? kKeyframe : 0));
        ASSERT_TRUE(audio->write(266 * i, 266, block.data(), block.size(), 0));
    }
    ASSERT_TRUE(file->release()) << file->lastError();

    RiffFile f(path);
    ASSERT_FALSE(f.truncated);
    const auto& riffs = f.root.children;
    ASSERT_GE(riffs.size(), 10u);
    EXPECT_EQ(riffs[0].listType, "AVI ");
    uint64_t total = 0;
    for (size_t i = 0; i < riffs.size(); ++i) {
        EXPECT_EQ(riffs[i].id, "RIFF");
        if (i) {
            EXPECT_EQ(riffs[i].listType, "AVIX");
        }
        EXPECT_LE(riffs[i].size + 8u, kLimit) << i;
        const Chunk* movi = riffs[i].find("LIST", "movi");
        ASSERT_TRUE(movi) << i;
        EXPECT_TRUE(movi->find("ix00")) << i;
        EXPECT_TRUE(movi->find("ix01")) << i;
        EXPECT_EQ(riffs[i].find("idx1") != nullptr, i == 0) << i;
        total += riffs[i].size + 8u;
    }
    EXPECT_EQ(total, f.bytes.size());

    const Chunk* hdrl = riffs[0].find("LIST", "hdrl");
    const Chunk* dmlh = hdrl->find("LIST", "odml")->find("dmlh");
    ASSERT_TRUE(dmlh);
    EXPECT_EQ(f.u32(dmlh->dataOffset), 320u);
    // avih counts the frames of the first segment; idx1 lists exactly the first segment's chunks.
    const auto idx1 = readIdx1(f, *riffs[0].find("idx1"));
    uint32_t firstFrames = 0;
    for (const auto& e : idx1) firstFrames += e.id == "00dc";
    EXPECT_EQ(f.u32(hdrl->find("avih")->dataOffset + 16), firstFrames);
    const Chunk* movi0 = riffs[0].find("LIST", "movi");
    size_t firstChunks = 0;
    for (const auto& c : movi0->children) firstChunks += c.id == "00dc" || c.id == "01wb";
    EXPECT_EQ(idx1.size(), firstChunks);

    // Walk every stream through its super index.
    const auto strls = hdrl->all("LIST", "strl");
    ASSERT_EQ(strls.size(), 2u);
    for (int s = 0; s < 2; ++s) {
        const Chunk* indx = strls[size_t(s)]->find("indx");
        ASSERT_TRUE(indx) << s;
        const uint64_t x = indx->dataOffset;
        EXPECT_EQ(f.u16(x), 4u);
        EXPECT_EQ(f.u8(x + 3), 0u);   // index of indexes
        const uint32_t used = f.u32(x + 4);
        EXPECT_EQ(used, riffs.size()) << s;
        EXPECT_EQ(f.text(x + 8), s == 0 ? "00dc" : "01wb");
        std::vector<IndexedChunk> chunks;
        uint64_t duration = 0;
        for (uint32_t k = 0; k < used; ++k) {
            const uint64_t e = x + 24 + 16 * k;
            const uint64_t ix = f.u64(e);
            EXPECT_EQ(f.text(ix), s == 0 ? "ix00" : "ix01");
            EXPECT_EQ(f.u32(e + 8), f.u32(ix + 4) + 8);   // size with header
            duration += f.u32(e + 12);
            EXPECT_EQ(f.u8(ix + 11), 1u);   // index of chunks
            const uint32_t n = f.u32(ix + 12);
            const uint64_t base = f.u64(ix + 20);
            EXPECT_EQ(base, riffs[k].offset);
            for (uint32_t j = 0; j < n; ++j) {
                const uint32_t size = f.u32(ix + 32 + 8 * j + 4);
                chunks.push_back({base + f.u32(ix + 32 + 8 * j), size & 0x7FFFFFFF, !(size & 0x80000000)});
            }
        }
        if (s == 0) {
            EXPECT_EQ(duration, 320u);
            ASSERT_EQ(chunks.size(), 320u);
            for (int64_t p = 0; p < 320; ++p) {
                const IndexedChunk& c = chunks[size_t(p)];
                EXPECT_EQ(f.text(c.offset - 8), "00dc");
                EXPECT_EQ(f.u32(c.offset - 4), c.size);
                auto it = frames.find(p);
                if (it == frames.end()) {
                    EXPECT_EQ(c.size, 0u) << p;
                    EXPECT_FALSE(c.key) << p;
                    continue;
                }
                ASSERT_EQ(c.size, it->second.size()) << p;
                EXPECT_TRUE(std::equal(it->second.begin(), it->second.end(), f.bytes.begin() + long(c.offset))) << p;
                const int i = p < 100 ? int(p) : int(p) - 20;
                EXPECT_EQ(c.key, i % 30 == 0) << p;
            }
        } else {
            EXPECT_EQ(duration, 300u * 266);
            ASSERT_EQ(chunks.size(), 300u);
            for (const auto& c : chunks) {
                EXPECT_TRUE(c.key);
                EXPECT_EQ(c.size, block.size());
                EXPECT_TRUE(std::equal(block.begin(), block.end(), f.bytes.begin() + long(c.offset)));
            }
        }
    }
}

}  // namespace
}  // namespace torvane::avi::test
