// The MP4 writer, read back by ffmpeg and GStreamer: the time line (pictures that last, sound gaps,
// the sound encoder's start-up frame), a file cut off between fragments, its repair, and refusals.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../avi/AviTestFormats.h"
#include "engine/H264Encoder.h"
#include "platform/mp4/Mp4Repair.h"
#include "platform/mp4/Mp4Writer.h"

using namespace torvane;
using torvane::avi::test::TempDir;

namespace {

constexpr int kW = 320, kH = 240, kFps = 30, kRate = 44100;

std::string run(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

double number(const std::string& cmd) {
    const std::string out = run(cmd);
    return out.empty() ? -1 : std::atof(out.c_str());
}

// Pictures of one grey level each, encoded as the recorder does.
struct Pictures {
    Pictures() {
        EncoderConfig c;
        c.width = kW;
        c.height = kH;
        c.frameRate = kFps;
        encoder = CH264Encoder::open(c, nullptr);
    }
    // Encodes a picture of grey `level` at `position`; an IDR when `key`.
    std::vector<uint8_t> picture(uint8_t level, int64_t position, bool key) {
        std::vector<uint8_t> yuv(size_t(kW) * kH * 3 / 2, 128);
        std::fill(yuv.begin(), yuv.begin() + kW * kH, level);
        EncodedPicture out;
        EXPECT_TRUE(encoder->encode(yuv.data(), yuv.data() + kW * kH, yuv.data() + kW * kH * 5 / 4, position, key, out));
        return std::vector<uint8_t>(out.data, out.data + out.size);
    }
    std::unique_ptr<CH264Encoder> encoder;
};

bool writePicture(media::ITrack* t, Pictures& p, uint8_t level, int64_t position, bool key) {
    const std::vector<uint8_t> bytes = p.picture(level, position, key);
    return t->write(position, 1, bytes.data(), bytes.size(), key);
}

// Stereo 16-bit: a 1 kHz tone or silence.
std::vector<int16_t> sound(int frames, bool tone, int64_t from) {
    std::vector<int16_t> s(size_t(frames) * 2);
    for (int i = 0; tone && i < frames; ++i)
        s[size_t(i) * 2] = s[size_t(i) * 2 + 1] = int16_t(12000 * std::sin(2 * M_PI * 1000 * double(from + i) / kRate));
    return s;
}

bool writeSound(media::ITrack* t, int64_t position, int frames, bool tone) {
    const std::vector<int16_t> s = sound(frames, tone, position);
    return t->write(position, frames, s.data(), s.size() * 2, false);
}

// The mean luma (full range) of what a decoder shows, ten times a second, from the start.
std::vector<int> lumaTimeline(const std::string& file) {
    std::istringstream in(run("ffmpeg -v error -i '" + file +
                              "' -vf fps=10,scale=1:1:flags=area,format=gray -f rawvideo - | od -An -v -tu1"));
    std::vector<int> out;
    for (int v; in >> v;) out.push_back(v);
    return out;
}

// Seconds from the start of the decoded sound to the first 5 ms window louder than silence.
double toneOnset(const std::string& file) {
    // By its times: the encoder's start-up frame lies before 0 and is not played.
    const std::string pcm = run("ffmpeg -v error -copyts -i '" + file +
                                "' -af atrim=start=0,asetpts=PTS-STARTPTS -ac 1 -ar 44100 -f s16le -");
    const size_t n = pcm.size() / 2, window = 220;
    const auto* s = reinterpret_cast<const int16_t*>(pcm.data());
    for (size_t at = 0; at + window <= n; at += 22) {
        double sum = 0;
        for (size_t i = at; i < at + window; ++i) sum += double(s[i]) * s[i];
        if (std::sqrt(sum / window) > 3000) return double(at) / 44100;
    }
    return -1;
}

}  // namespace

TEST(Mp4Writer, PicturesLastUntilTheNextAndTheSoundKeepsItsPlace) {
    TempDir dir;
    const std::string path = dir.file("a.mp4");
    std::string error;
    auto file = mp4::Mp4Writer::create(path, &error);
    ASSERT_TRUE(file) << error;
    Pictures p;
    ASSERT_TRUE(p.encoder);
    media::ITrack* video = file->addVideo({kW, kH, kFps});
    media::ITrack* audio = file->addSound({2, kRate, 16});
    ASSERT_TRUE(video && audio) << file->lastError();

    // Dark from 0, light from position 30 (1 s), the rest of the 3 s unchanged; the sound is
    // silent until 2 s (with a gap at 0.5-1.0 s) and a tone from 2 s on.
    ASSERT_TRUE(writePicture(video, p, 60, 0, true));
    ASSERT_TRUE(writeSound(audio, 0, kRate / 2, false));
    ASSERT_TRUE(writePicture(video, p, 60, 1, false));
    for (int64_t i = 2; i < 30; ++i) ASSERT_TRUE(video->writeEmpty(i));
    ASSERT_TRUE(writePicture(video, p, 180, 30, false));
    ASSERT_TRUE(writeSound(audio, kRate, kRate, false));   // after a gap of silence
    ASSERT_TRUE(file->refresh());
    for (int64_t i = 31; i < 89; ++i) ASSERT_TRUE(video->writeEmpty(i));
    ASSERT_TRUE(writePicture(video, p, 180, 89, false));   // as the recorder ends a still stretch
    ASSERT_TRUE(writeSound(audio, 2 * kRate, kRate, true));
    EXPECT_EQ(video->length(), 90);
    EXPECT_EQ(audio->length(), 3 * kRate);
    ASSERT_TRUE(file->finish()) << file->lastError();
    EXPECT_FALSE(file->writeFailed());

    // The video lasts its 90 positions; ffmpeg and GStreamer give the file's length.
    EXPECT_NEAR(number("ffprobe -v error -select_streams v -show_entries stream=duration -of csv=p=0 '" + path + "'"),
                3.0, 0.001);
    EXPECT_NEAR(number("gst-discoverer-1.0 '" + path +
                       "' | sed -n 's/^ *Duration: 0:00:\\([0-9.]*\\).*/\\1/p' | head -1"),
                3.0, 0.03);
    EXPECT_EQ(run("ffmpeg -v error -xerror -i '" + path + "' -f null - 2>&1"), "");
    // Each picture is shown for its whole stretch.
    const std::vector<int> luma = lumaTimeline(path);
    ASSERT_EQ(luma.size(), 30u);
    for (size_t i = 0; i < luma.size(); ++i) EXPECT_EQ(luma[i] > 110, i >= 10) << luma[i] << " at " << i / 10.0 << " s";
    // The tone starts at 2 s exactly: the sound encoder's start-up frame is held back.
    EXPECT_NEAR(toneOnset(path), 2.0, 0.006);
}

TEST(Mp4Writer, AFileCutOffPlaysUpToItsLastFragmentAndRepairsWhole) {
    TempDir dir;
    const std::string path = dir.file("cut.mp4");
    auto file = mp4::Mp4Writer::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));
    Pictures p;
    media::ITrack* video = file->addVideo({kW, kH, kFps});
    media::ITrack* audio = file->addSound({2, kRate, 16});
    ASSERT_TRUE(video && audio);
    for (int64_t i = 0; i < 60; ++i) ASSERT_TRUE(writePicture(video, p, uint8_t(i * 4), i, i == 0));
    ASSERT_TRUE(writeSound(audio, 0, 2 * kRate, true));
    ASSERT_TRUE(file->refresh());
    // Written after the last fragment: not in the file yet.
    for (int64_t i = 60; i < 90; ++i) ASSERT_TRUE(writePicture(video, p, 200, i, false));
    ASSERT_TRUE(writeSound(audio, 2 * kRate, kRate, true));
    const std::string cut = dir.file("copy.mp4");
    ASSERT_EQ(std::system(("cp '" + path + "' '" + cut + "'").c_str()), 0);
    ASSERT_TRUE(file->finish());

    // As it stands: about two seconds, decoded without an error.
    const double seconds = number("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + cut + "'");
    EXPECT_GT(seconds, 1.9);
    EXPECT_LT(seconds, 2.1);
    EXPECT_EQ(run("ffmpeg -v error -xerror -i '" + cut + "' -f null - 2>&1"), "");
    // Its header says so too, for the readers that go by it.
    EXPECT_NEAR(number("gst-discoverer-1.0 '" + cut + "' | sed -n 's/^ *Duration: 0:00:\\([0-9.]*\\).*/\\1/p' | head -1"),
                seconds, 0.05);

    // Repaired: a complete file whose sound ends with its last picture.
    std::string summary, error;
    ASSERT_TRUE(mp4::repairMp4File(cut, dir.file("repaired.mp4"), summary, error)) << error;
    EXPECT_NE(summary.find("h264, 59 frames"), std::string::npos) << summary;
    const std::string fixed = dir.file("repaired.mp4");
    const double v = number("ffprobe -v error -select_streams v -show_entries stream=duration -of csv=p=0 '" + fixed + "'");
    const double a = number("ffprobe -v error -select_streams a -show_entries stream=duration -of csv=p=0 '" + fixed + "'");
    EXPECT_NEAR(v, 59.0 / kFps, 0.04);
    EXPECT_NEAR(a, v, 0.03);
    EXPECT_EQ(run("ffmpeg -v error -xerror -i '" + fixed + "' -f null - 2>&1"), "");
    // Like a finished recording, its header gives the whole length.
    EXPECT_NEAR(number("gst-discoverer-1.0 '" + fixed + "' | sed -n 's/^ *Duration: 0:00:\\([0-9.]*\\).*/\\1/p' | head -1"),
                v, 0.04);

    // Nothing to recover: no header was ever written.
    std::ofstream(dir.file("empty.mp4")) << "";
    EXPECT_FALSE(mp4::repairMp4File(dir.file("empty.mp4"), dir.file("out.mp4"), summary, error));
    EXPECT_NE(error.find("cannot repair"), std::string::npos) << error;
    EXPECT_NE(access(dir.file("out.mp4").c_str(), F_OK), 0);
}

// A sound source that starts a while after the picture (the mix waits for a slow microphone):
// the header, which says where each track starts, waits for it, so the sound is not played late.
TEST(Mp4Writer, SoundThatStartsLateKeepsItsPlace) {
    TempDir dir;
    const std::string path = dir.file("late.mp4");
    auto file = mp4::Mp4Writer::create(path, nullptr);
    ASSERT_TRUE(file);
    file->setRefreshInterval(std::chrono::milliseconds(0));
    Pictures p;
    media::ITrack* video = file->addVideo({kW, kH, kFps});
    media::ITrack* audio = file->addSound({2, kRate, 16});
    ASSERT_TRUE(video && audio);
    for (int64_t i = 0; i < 30; ++i) ASSERT_TRUE(writePicture(video, p, 60, i, i == 0));
    ASSERT_TRUE(file->refresh());   // no sound yet
    ASSERT_TRUE(writeSound(audio, kRate / 2, kRate / 2, false));   // silence from 0.5 s, a gap before
    ASSERT_TRUE(writeSound(audio, kRate, kRate, true));
    for (int64_t i = 30; i < 59; ++i) ASSERT_TRUE(video->writeEmpty(i));
    ASSERT_TRUE(writePicture(video, p, 60, 59, false));
    ASSERT_TRUE(file->refresh());
    ASSERT_TRUE(file->finish());
    EXPECT_NEAR(toneOnset(path), 1.0, 0.006);
    double start = 0, duration = 0;
    std::sscanf(run("ffprobe -v error -select_streams a -show_entries stream=start_time,duration -of csv=p=0 '" + path +
                    "'").c_str(), "%lf,%lf", &start, &duration);
    EXPECT_NEAR(start + duration, 2.0, 0.001) << "the sound ends where it was written to";
}

// A first picture that comes a few positions late (a slow first grab) is shown from 0: the video
// lasts the whole recording in every reader, and what follows keeps its place.
TEST(Mp4Writer, AFirstPictureThatComesLateIsShownFromTheStart) {
    TempDir dir;
    const std::string path = dir.file("first.mp4");
    auto file = mp4::Mp4Writer::create(path, nullptr);
    ASSERT_TRUE(file);
    Pictures p;
    media::ITrack* video = file->addVideo({kW, kH, kFps});
    media::ITrack* audio = file->addSound({2, kRate, 16});
    ASSERT_TRUE(video && audio);
    for (int64_t i = 0; i < 4; ++i) ASSERT_TRUE(video->writeEmpty(i));
    ASSERT_TRUE(writePicture(video, p, 60, 4, true));
    for (int64_t i = 5; i < 60; ++i) ASSERT_TRUE(video->writeEmpty(i));
    ASSERT_TRUE(writePicture(video, p, 180, 60, false));   // light from 2 s on
    // A still stretch ends with pictures at its last three positions, as the recorder writes it.
    for (int64_t i = 61; i < 117; ++i) ASSERT_TRUE(video->writeEmpty(i));
    for (int64_t i = 117; i < 120; ++i) ASSERT_TRUE(writePicture(video, p, 180, i, false));
    ASSERT_TRUE(writeSound(audio, 0, 4 * kRate, false));
    ASSERT_TRUE(file->finish()) << file->lastError();

    double start = -1, duration = 0;
    std::sscanf(run("ffprobe -v error -select_streams v -show_entries stream=start_time,duration -of csv=p=0 '" + path +
                    "'").c_str(), "%lf,%lf", &start, &duration);
    EXPECT_NEAR(start, 0.0, 0.001);
    EXPECT_NEAR(duration, 4.0, 0.001);
    // ffmpeg converting it with its defaults: the same length, not the late start added.
    const std::string mp4 = dir.file("converted.mp4");
    ASSERT_EQ(run("ffmpeg -nostdin -v error -y -i '" + path + "' '" + mp4 + "' 2>&1"), "");
    EXPECT_NEAR(number("ffprobe -v error -select_streams v -show_entries packet=pts_time,duration_time -of csv=p=0 '" + mp4 +
                       "' | awk -F, '{ e = $1 + $2; if (e > m) m = e } END { print m }'"),
                4.0, 1.0 / kFps + 0.002);
    const std::vector<int> luma = lumaTimeline(path);
    ASSERT_EQ(luma.size(), 40u);
    for (size_t i = 0; i < luma.size(); ++i) EXPECT_EQ(luma[i] > 110, i >= 20) << luma[i] << " at " << i / 10.0 << " s";
}

TEST(Mp4Writer, RefusesWhatWouldMakeABadFileAndReportsAFullDisk) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(mp4::Mp4Writer::create("/nonexistent-dir/x.mp4", &error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;

    auto file = mp4::Mp4Writer::create(dir.file("r.mp4"), nullptr);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->addVideo({0, kH, kFps}));
    EXPECT_FALSE(file->addSound({6, kRate, 16}));
    EXPECT_FALSE(file->addSound({2, kRate, 24}));
    Pictures p;
    media::ITrack* video = file->addVideo({kW, kH, kFps});
    media::ITrack* audio = file->addSound({2, kRate, 16});
    ASSERT_TRUE(video && audio);
    EXPECT_FALSE(writePicture(video, p, 50, 0, false)) << "the first picture must be a keyframe";
    ASSERT_TRUE(writePicture(video, p, 50, 3, true));
    EXPECT_FALSE(file->addSound({1, kRate, 16})) << "tracks come before writing";
    EXPECT_FALSE(writePicture(video, p, 50, 2, false)) << "positions never go back";
    EXPECT_FALSE(video->write(4, 1, "\x01\x02\x03\x04\x05", 5, false)) << "not an access unit";
    ASSERT_TRUE(writeSound(audio, 100, 1000, true));
    EXPECT_FALSE(writeSound(audio, 50, 10, true));
    const int16_t odd[3] = {};
    EXPECT_FALSE(audio->write(2000, 1, odd, sizeof odd, false)) << "bytes not whole sample frames";
    EXPECT_FALSE(file->writeFailed()) << "refusals write nothing";
    EXPECT_TRUE(file->finish());

    // A full disk: the failure and its reason are kept, and finishing says it failed.
    auto full = mp4::Mp4Writer::create("/dev/full", &error);
    ASSERT_TRUE(full) << error;
    video = full->addVideo({kW, kH, kFps});
    ASSERT_TRUE(video);
    for (int64_t i = 0; i < 10; ++i) writePicture(video, p, uint8_t(i * 20), i, i == 0);
    full->refresh();
    EXPECT_FALSE(full->finish());
    EXPECT_TRUE(full->writeFailed());
    EXPECT_EQ(full->firstWriteErrno(), ENOSPC);
    EXPECT_NE(full->lastError().find("No space left"), std::string::npos) << full->lastError();
}
