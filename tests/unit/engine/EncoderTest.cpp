#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/H264Encoder.h"

using namespace torvane;

namespace {

struct Yuv {
    Yuv(int w, int h) : w(w), h(h), data(size_t(w) * h * 3 / 2, 128) {}
    uint8_t* y() { return data.data(); }
    uint8_t* u() { return data.data() + size_t(w) * h; }
    uint8_t* v() { return u() + size_t(w / 2) * (h / 2); }
    void pattern(int t) {
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) data[size_t(r) * w + c] = uint8_t((r * 3 + c * 5 + t * 7) ^ (c * r));
    }
    int w, h;
    std::vector<uint8_t> data;
};

// NAL unit types of an Annex B sample, checking that every unit starts with a 4-byte start code
// and that no payload holds a sequence that only emulation prevention may produce.
std::vector<int> nalTypes(const EncodedPicture& p, bool& escapedOk) {
    std::vector<int> types;
    escapedOk = true;
    size_t i = 0;
    const uint8_t* d = p.data;
    while (i + 4 < p.size) {
        if (!(d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 0 && d[i + 3] == 1)) {
            escapedOk = false;
            return types;
        }
        types.push_back(d[i + 4] & 0x1F);
        size_t j = i + 5;
        while (j + 3 < p.size && !(d[j] == 0 && d[j + 1] == 0 && d[j + 2] == 0 && d[j + 3] == 1)) {
            if (d[j] == 0 && d[j + 1] == 0 && d[j + 2] <= 2) escapedOk = false;
            ++j;
        }
        i = (j + 3 < p.size) ? j : p.size;
    }
    return types;
}

// What a shell command prints.
std::string run(const std::string& cmd) {
    std::string r;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) r += buf;
        pclose(p);
    }
    return r;
}

}  // namespace

TEST(Encoder, ParametersFollowRateAndQuality) {
    std::string err;
    auto e = CH264Encoder::open({320, 240, 8, 1}, &err);
    ASSERT_TRUE(e) << err;
    const EncoderParameters p = e->parameters();
    EXPECT_EQ(p.keyintMax, 80);
    EXPECT_EQ(p.keyintMin, 8);
    EXPECT_EQ(p.references, 1);
    EXPECT_EQ(p.bframes, 0);
    EXPECT_EQ(p.threads, 1) << "a small picture is not cut into slices";
    EXPECT_FALSE(p.vfrInput);
    EXPECT_TRUE(p.cabac);
    EXPECT_TRUE(p.repeatHeaders);
    EXPECT_FALSE(p.transform8x8);
    EXPECT_EQ(p.subpelRefine, 6);
    EXPECT_EQ(p.qpConstant, 23);

    auto rate24 = CH264Encoder::open({320, 240, 24, 0}, &err);
    ASSERT_TRUE(rate24);
    EXPECT_EQ(rate24->parameters().keyintMax, 240);
    EXPECT_EQ(rate24->parameters().qpConstant, 26);
    EXPECT_EQ(quantiserForQuality(2), 20);
    EXPECT_EQ(quantiserForQuality(7), 26);
}

TEST(Encoder, RefusesImpossiblePictures) {
    std::string err;
    EXPECT_FALSE(CH264Encoder::open({321, 240, 8, 0}, &err));
    EXPECT_FALSE(err.empty());
    EXPECT_FALSE(CH264Encoder::open({320, 240, 0, 0}, &err));
    EXPECT_FALSE(CH264Encoder::open({0, 0, 8, 0}, &err));
}

TEST(Encoder, EveryPictureComesBackFromItsOwnCall) {
    std::string err;
    auto e = CH264Encoder::open({320, 240, 30, 0}, &err);
    ASSERT_TRUE(e) << err;
    Yuv pic(320, 240);
    for (int i = 0; i < 60; ++i) {
        pic.pattern(i);
        EncodedPicture out;
        const int64_t pts = i * 2 + (i > 30 ? 5 : 0);   // gaps, as late turns leave them
        ASSERT_TRUE(e->encode(pic.y(), pic.u(), pic.v(), pts, i == 0 || i == 40, out)) << i;
        ASSERT_GT(out.size, 0u);
        EXPECT_EQ(out.pts, pts);
        bool escapedOk = false;
        const std::vector<int> types = nalTypes(out, escapedOk);
        EXPECT_TRUE(escapedOk) << "picture " << i;
        if (i == 0 || i == 40) {
            EXPECT_TRUE(out.keyframe) << i;
            // SPS and PPS travel in front of every IDR picture.
            ASSERT_GE(types.size(), 3u);
            EXPECT_EQ(types[0], 7);
            EXPECT_EQ(types[1], 8);
            EXPECT_EQ(types.back(), 5);
        } else if (i == 1) {
            EXPECT_FALSE(out.keyframe);
            EXPECT_EQ(types.back(), 1);
        }
    }
}

TEST(Encoder, HigherQualityGivesLargerPictures) {
    std::string err;
    Yuv pic(320, 240);
    pic.pattern(3);
    size_t sizes[3];
    for (int q = 0; q < 3; ++q) {
        auto e = CH264Encoder::open({320, 240, 10, q}, &err);
        ASSERT_TRUE(e);
        EncodedPicture out;
        ASSERT_TRUE(e->encode(pic.y(), pic.u(), pic.v(), 0, true, out));
        sizes[q] = out.size;
    }
    EXPECT_LT(sizes[0], sizes[1]);
    EXPECT_LT(sizes[1], sizes[2]);
}

// A repeat of the last picture is a non-key picture of a few dozen bytes whatever the content,
// returned from its own call; a real picture after it is encoded as usual.
TEST(Encoder, RepeatOfTheLastPictureIsTinyAndTheNextIsNormal) {
    std::string err;
    auto e = CH264Encoder::open({1280, 720, 30, 2}, &err);
    ASSERT_TRUE(e) << err;
    Yuv pic(1280, 720);
    pic.pattern(1);
    EncodedPicture out;
    ASSERT_TRUE(e->encode(pic.y(), pic.u(), pic.v(), 0, true, out));
    pic.pattern(2);
    ASSERT_TRUE(e->encode(pic.y(), pic.u(), pic.v(), 1, false, out));
    const size_t changed = out.size;
    for (int64_t pts = 5; pts < 40; pts += 5) {
        ASSERT_TRUE(e->encodeRepeat(pic.y(), pic.u(), pic.v(), pts, out)) << pts;
        EXPECT_EQ(out.pts, pts);
        EXPECT_FALSE(out.keyframe);
        EXPECT_LT(out.size, 200u) << "at " << pts;
        bool escapedOk = false;
        EXPECT_EQ(nalTypes(out, escapedOk).back(), 1);
        EXPECT_TRUE(escapedOk);
    }
    pic.pattern(3);
    ASSERT_TRUE(e->encode(pic.y(), pic.u(), pic.v(), 40, false, out));
    EXPECT_GT(out.size, changed / 4) << "a changed picture after repeats is encoded in full";
}

// A big picture is shared by the cores in slices: each call still returns its own picture (no
// picture is held back), and the stream decodes to the same pictures in ffmpeg and GStreamer.
TEST(Encoder, SlicedThreadsReturnEveryPictureFromItsCallAndDecodeAlike) {
    cpu_set_t set;
    CPU_ZERO(&set);
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    const int cores = CPU_COUNT(&set);
    EXPECT_EQ(encoderThreads(1920, 1080), std::min(cores, 4));
    EXPECT_EQ(encoderThreads(3840, 2160), std::min(cores, 4));
    EXPECT_EQ(encoderThreads(640, 112), 1) << "seven macroblock rows";

    std::string err;
    auto e = CH264Encoder::open({1920, 1080, 30, 0}, &err);
    ASSERT_TRUE(e) << err;
    EXPECT_EQ(e->parameters().threads, std::min(cores, 4));
    Yuv pic(1920, 1080);
    char dir[] = "/tmp/torvane-slices-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string stream = std::string(dir) + "/s.h264";
    FILE* f = std::fopen(stream.c_str(), "wb");
    ASSERT_TRUE(f);
    for (int i = 0; i < 12; ++i) {
        pic.pattern(i);
        EncodedPicture out;
        ASSERT_TRUE(e->encode(pic.y(), pic.u(), pic.v(), i, i == 0, out));
        ASSERT_GT(out.size, 0u) << "picture " << i << " came back empty";
        EXPECT_EQ(out.pts, i);
        std::fwrite(out.data, 1, out.size, f);
    }
    std::fclose(f);
    const std::string ff = run("ffmpeg -v error -i " + stream + " -f rawvideo -pix_fmt yuv420p - | md5sum");
    const std::string gst = run("gst-launch-1.0 -q filesrc location=" + stream +
                                " ! h264parse ! avdec_h264 ! video/x-raw,format=I420 ! fdsink fd=1 | md5sum");
    EXPECT_EQ(ff, gst);
    EXPECT_NE(ff.substr(0, 32), "d41d8cd98f00b204e9800998ecf8427e") << "nothing decoded";
    EXPECT_EQ(run("ffmpeg -v error -i " + stream + " -f rawvideo -pix_fmt yuv420p - | wc -c"),
              std::to_string(12 * 1920 * 1080 * 3 / 2) + "\n");
    std::system(("rm -rf " + std::string(dir)).c_str());
}

// The pace control's speed steps: each is a cheaper analysis at the same quantiser, the change
// holds from the next picture on in one stream that both decoders read alike and near the input,
// and the normal settings come back whole.
TEST(Encoder, SpeedStepsChangeTheAnalysisOnlyAndTheStreamStaysWhole) {
    std::string err;
    auto e = CH264Encoder::open({640, 368, 30, 0}, &err);
    ASSERT_TRUE(e) << err;
    const EncoderParameters normal = e->parameters();
    EXPECT_FALSE(e->setSpeed(-1));
    EXPECT_FALSE(e->setSpeed(CH264Encoder::kFastestSpeed + 1));
    EXPECT_EQ(e->speed(), 0);

    char dir[] = "/tmp/torvane-speeds-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    const std::string stream = std::string(dir) + "/s.h264";
    const std::string input = std::string(dir) + "/in.yuv";
    FILE* f = std::fopen(stream.c_str(), "wb");
    FILE* raw = std::fopen(input.c_str(), "wb");
    ASSERT_TRUE(f && raw);
    Yuv pic(640, 368);
    int t = 0;
    int lastSubpel = normal.subpelRefine;
    for (int speed : {0, 1, 2, 3, 0}) {
        ASSERT_TRUE(e->setSpeed(speed)) << speed;
        for (int i = 0; i < 6; ++i, ++t) {
            pic.pattern(t);
            EncodedPicture out;
            ASSERT_TRUE(e->encode(pic.y(), pic.u(), pic.v(), t, t == 0, out));
            ASSERT_GT(out.size, 0u);
            EXPECT_EQ(out.pts, t);
            std::fwrite(out.data, 1, out.size, f);
            std::fwrite(pic.data.data(), 1, pic.data.size(), raw);
        }
        const EncoderParameters p = e->parameters();
        EXPECT_EQ(p.qpConstant, normal.qpConstant) << speed;
        EXPECT_EQ(p.threads, normal.threads) << speed;
        EXPECT_EQ(p.cabac, normal.cabac) << speed;
        if (speed == 1 || speed == 2) {
            EXPECT_LT(p.subpelRefine, lastSubpel) << "speed " << speed << " is no cheaper";
        }
        lastSubpel = p.subpelRefine;
        if (speed == 0) {
            EXPECT_EQ(p.subpelRefine, normal.subpelRefine);
            EXPECT_EQ(p.meMethod, normal.meMethod);
            EXPECT_EQ(p.trellis, normal.trellis);
            EXPECT_EQ(p.interPartitions, normal.interPartitions);
            EXPECT_EQ(p.deblocking, normal.deblocking);
        } else {
            EXPECT_EQ(p.trellis, 0) << speed;
        }
        if (speed == CH264Encoder::kFastestSpeed) {
            EXPECT_EQ(p.interPartitions, 0u);
            EXPECT_FALSE(p.deblocking);
        }
    }
    std::fclose(f);
    std::fclose(raw);
    const std::string ff = run("ffmpeg -v error -i " + stream + " -f rawvideo -pix_fmt yuv420p - | md5sum");
    const std::string gst = run("gst-launch-1.0 -q filesrc location=" + stream +
                                " ! h264parse ! avdec_h264 ! video/x-raw,format=I420 ! fdsink fd=1 | md5sum");
    EXPECT_EQ(ff, gst);
    // Every picture near its input: the luma's PSNR of the worst one.
    const std::string decoded = std::string(dir) + "/out.yuv";
    run("ffmpeg -v error -i " + stream + " -f rawvideo -pix_fmt yuv420p -y " + decoded);
    std::FILE* in = std::fopen(input.c_str(), "rb");
    std::FILE* out = std::fopen(decoded.c_str(), "rb");
    ASSERT_TRUE(in && out);
    std::vector<uint8_t> a(pic.data.size()), b(pic.data.size());
    double worst = 1e9;
    int pictures = 0;
    while (std::fread(a.data(), 1, a.size(), in) == a.size() && std::fread(b.data(), 1, b.size(), out) == b.size()) {
        double squares = 0;
        for (size_t i = 0; i < size_t(640) * 368; ++i) squares += double(int(a[i]) - int(b[i])) * double(int(a[i]) - int(b[i]));
        const double mse = squares / (640.0 * 368.0);
        worst = std::min(worst, mse > 0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0);
        ++pictures;
    }
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(pictures, 30);
    EXPECT_GT(worst, 30.0) << "dB";
    EXPECT_EQ(run("ffmpeg -v error -i " + stream + " -f rawvideo -pix_fmt yuv420p - | wc -c"),
              std::to_string(30 * 640 * 368 * 3 / 2) + "\n");
    if (!HasFailure()) std::system(("rm -rf " + std::string(dir)).c_str());
}
