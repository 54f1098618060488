// Files written by the AVI writer, read back by ffprobe and decoded by ffmpeg: multi-segment
// files, files whose writer died before finishing, and real H.264 pictures with PCM sound.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <x264.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "platform/avi/AviFile.h"
#include "tests/unit/avi/AviTestFormats.h"
#include "tests/unit/avi/RiffReader.h"

namespace torvane::avi::test {
namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return "popen failed";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> r;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) r.push_back(line);
    return r;
}

// "codec_type,nb_read_packets" of the first stream, "codec_type" of the others.
std::vector<std::string> videoPacketCount(const std::string& path) {
    return lines(run("ffprobe -v error -count_packets -show_entries stream=codec_type,nb_read_packets "
                     "-select_streams v -of csv=p=0 '" + path + "' 2>&1"));
}

// "dts,flags" of every packet of one stream (the demuxer gives H.264 in AVI no pts).
std::vector<std::string> packets(const std::string& path, const std::string& stream) {
    return lines(run("ffprobe -v error -select_streams " + stream +
                     " -show_entries packet=dts,flags -of csv=p=0 '" + path + "' 2>&1"));
}

// End of the audio time line in sample frames: pts + duration of the last packet. (The demuxer
// splits PCM chunks into packets of its own size, so packets are not counted.)
int64_t audioEnd(const std::string& path) {
    const auto l = lines(run("ffprobe -v error -select_streams a -show_entries packet=pts,duration "
                             "-of csv=p=0 '" + path + "' 2>&1"));
    if (l.empty()) return -1;
    long long pts = 0, duration = 0;
    if (std::sscanf(l.back().c_str(), "%lld,%lld", &pts, &duration) != 2) return -1;
    return pts + duration;
}

struct Writer {
    std::unique_ptr<AviFile> file;
    AviStream* video = nullptr;
    AviStream* audio = nullptr;
};

// `opaque`: the video samples are not H.264, so the file says so (an unknown codec tag) and
// ffprobe counts them without parsing.
bool addAudio(Writer& w) {
    const auto wave = waveFormat(44100, 2, 16);
    w.audio = w.file->createStream(audioInfo(wave));
    if (!w.audio || !w.file->setFormat(w.audio, wave.data(), wave.size()) || w.file->startStream(w.audio) != 0)
        w.audio = nullptr;
    return w.audio != nullptr;
}

// `lateAudio`: the audio stream is added later, while video is being written.
Writer openFile(const std::string& path, int width, int height, uint64_t segmentLimit, bool opaque,
                bool lateAudio = false) {
    Writer w;
    std::string error;
    w.file = segmentLimit ? AviFile::create(path, &error, segmentLimit) : AviFile::create(path, &error);
    if (!w.file) return w;
    StreamInfo vinfo = videoInfo(width, height, 30);
    auto bih = bitmapInfo(vinfo);
    if (opaque) {
        vinfo.fccHandler = fourcc('T', 'V', 'R', 'N');
        put32(bih, 16, vinfo.fccHandler);
    }
    w.video = w.file->createStream(vinfo);
    if (!w.video || !w.file->setFormat(w.video, bih.data(), bih.size()) || w.file->startStream(w.video) != 0)
        w.video = nullptr;
    if (!lateAudio) addAudio(w);
    return w;
}

// Frames of opaque bytes at positions 0..count+gap-1 with `gap` positions skipped after frame 10,
// and one block of 1470 sample frames per frame from frame `audioFrom` on (adding the audio stream
// then if there is none yet).
bool writeOpaque(Writer& w, int count, int gap, size_t frameBytes, int audioFrom = 0) {
    std::vector<uint8_t> frame(frameBytes, 0x42), block(4 * 1470, 0);
    int64_t pos = 0;
    for (int i = 0; i < count; ++i, ++pos) {
        if (i == 10) pos += gap;
        if (!w.video->write(pos, 1, frame.data(), frame.size(), i % 25 == 0 ? kKeyframe : 0)) return false;
        if (i == audioFrom && !w.audio && !addAudio(w)) return false;
        if (i >= audioFrom &&
            !w.audio->write(int64_t(i - audioFrom) * 1470, 1470, block.data(), block.size(), 0))
            return false;
    }
    return true;
}

TEST(AviFiles, MultiSegmentFileIsReadWhole) {
    TempDir dir;
    const std::string path = dir.file("odml.avi");
    // The sound stream joins in the third segment.
    Writer w = openFile(path, 320, 240, 128 * 1024, true, true);
    ASSERT_TRUE(w.video);
    ASSERT_TRUE(writeOpaque(w, 400, 5, 2001, 150)) << w.file->lastError();
    ASSERT_TRUE(w.file->release()) << w.file->lastError();

    EXPECT_EQ(videoPacketCount(path), std::vector<std::string>{"video,400"});
    EXPECT_EQ(audioEnd(path), 250 * 1470);
    EXPECT_EQ(lines(run("ffprobe -v error -select_streams a -show_entries packet=pts -of csv=p=0 '" + path +
                        "' | head -1")),
              std::vector<std::string>{"0"});
    const auto v = packets(path, "v");
    ASSERT_EQ(v.size(), 400u);
    EXPECT_EQ(v[0], "0,K_");
    EXPECT_EQ(v[9], "9,__");
    EXPECT_EQ(v[10], "15,__");
    EXPECT_EQ(v[25], "30,K_");
    EXPECT_EQ(v.back(), "404,__");
    EXPECT_EQ(lines(run("ffprobe -v error -select_streams v -show_entries stream=duration_ts -of csv=p=0 '" +
                        path + "'")),
              std::vector<std::string>{"405"});
}

// The child writes and dies without release(); the parent reads what it left.
void writeAndDie(const std::string& path, uint64_t segmentLimit, int frames) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        Writer w = openFile(path, 320, 240, segmentLimit, true);
        const bool ok = w.video && w.audio && writeOpaque(w, frames, 3, 1500);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(AviFiles, FileOfAWriterThatDiedIsReadableUpToWhatWasWritten) {
    TempDir dir;
    const std::string single = dir.file("died.avi");
    writeAndDie(single, 0, 60);
    EXPECT_EQ(videoPacketCount(single), std::vector<std::string>{"video,60"});
    EXPECT_EQ(audioEnd(single), 60 * 1470);
    const auto v = packets(single, "v");
    ASSERT_EQ(v.size(), 60u);
    // Without an index the reader cannot know keyframes; positions it does know.
    EXPECT_EQ(v[10].substr(0, 3), "13,");
    EXPECT_EQ(v[59].substr(0, 3), "62,");

    // Died in a later segment: closed segments are indexed, the open one is read to the end.
    const std::string multi = dir.file("died-multi.avi");
    writeAndDie(multi, 64 * 1024, 300);
    EXPECT_EQ(videoPacketCount(multi), std::vector<std::string>{"video,300"});
    EXPECT_EQ(audioEnd(multi), 300 * 1470);
    const auto m = packets(multi, "v");
    ASSERT_EQ(m.size(), 300u);
    EXPECT_EQ(m.back().substr(0, 4), "302,");
    EXPECT_EQ(m[100], "103,K_");
}

// Real pictures from libx264, with a gap and PCM sound, decoded by ffmpeg.
TEST(AviFiles, H264AndPcmDecodeWithTheirPositionsAndKeyframes) {
    constexpr int kWidth = 802, kHeight = 602, kPictures = 30;
    x264_param_t param;
    x264_param_default(&param);
    param.i_width = kWidth;
    param.i_height = kHeight;
    param.i_csp = X264_CSP_I420;
    param.i_fps_num = 30;
    param.i_fps_den = 1;
    param.i_threads = 1;
    param.b_vfr_input = 0;
    param.i_bframe = 0;
    param.b_repeat_headers = 1;
    param.b_annexb = 1;
    param.i_log_level = X264_LOG_NONE;
    param.rc.i_rc_method = X264_RC_CQP;
    param.rc.i_qp_constant = 26;
    x264_t* encoder = x264_encoder_open(&param);
    ASSERT_TRUE(encoder);
    x264_picture_t picture, out;
    ASSERT_EQ(x264_picture_alloc(&picture, X264_CSP_I420, kWidth, kHeight), 0);

    // The same samples into a plain file and into one of many small segments.
    TempDir dir;
    const std::string path = dir.file("h264.avi"), segmented = dir.file("h264-segments.avi");
    Writer files[2] = {openFile(path, kWidth, kHeight, 0, false),
                       openFile(segmented, kWidth, kHeight, 48 * 1024, false)};
    for (auto& w : files) ASSERT_TRUE(w.video && w.audio);
    std::vector<std::string> expected;
    int64_t audioPos = 0;
    std::vector<uint8_t> block(4 * 1470);
    for (int i = 0; i < kPictures; ++i) {
        const int64_t pos = i < 10 ? i : i + 5;   // positions 10..14 are not captured
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                picture.img.plane[0][y * picture.img.i_stride[0] + x] = uint8_t(x + y + 8 * i);
        for (int p = 1; p < 3; ++p)
            for (int y = 0; y < kHeight / 2; ++y)
                std::fill_n(picture.img.plane[p] + y * picture.img.i_stride[p], kWidth / 2, uint8_t(128 + p * i));
        picture.i_pts = pos;
        picture.i_type = i == 10 ? X264_TYPE_IDR : X264_TYPE_AUTO;
        x264_nal_t* nals = nullptr;
        int nalCount = 0;
        const int size = x264_encoder_encode(encoder, &nals, &nalCount, &picture, &out);
        ASSERT_GT(size, 0) << i;
        ASSERT_EQ(out.i_pts, pos);
        const bool key = out.i_type == X264_TYPE_IDR || out.i_type == X264_TYPE_I;
        expected.push_back(std::to_string(pos) + (key ? ",K_" : ",__"));
        // 440 Hz, one video frame's worth of sound per picture.
        for (int s = 0; s < 1470; ++s) {
            const auto v = int16_t(8000 * std::sin(2 * M_PI * 440 * double(audioPos + s) / 44100));
            for (int c = 0; c < 2; ++c) {
                block[size_t(4 * s + 2 * c)] = uint8_t(v);
                block[size_t(4 * s + 2 * c + 1)] = uint8_t(v >> 8);
            }
        }
        for (auto& w : files) {
            ASSERT_TRUE(w.video->write(out.i_pts, 1, nals[0].p_payload, size_t(size), key ? kKeyframe : 0))
                << w.file->lastError();
            ASSERT_TRUE(w.audio->write(audioPos, 1470, block.data(), block.size(), 0));
        }
        audioPos += 1470;
    }
    x264_picture_clean(&picture);
    x264_encoder_close(encoder);
    for (auto& w : files) {
        w.file->releaseStream(w.video);
        w.file->releaseStream(w.audio);
        ASSERT_TRUE(w.file->release()) << w.file->lastError();
    }
    EXPECT_EQ(expected[0], "0,K_");
    EXPECT_EQ(expected[10], "15,K_");
    EXPECT_EQ(std::count_if(expected.begin(), expected.end(),
                            [](const std::string& e) { return e.ends_with("K_"); }),
              2);
    EXPECT_GT(RiffFile(segmented).root.children.size(), 3u);

    for (const std::string& f : {path, segmented}) {
        SCOPED_TRACE(f);
        EXPECT_EQ(run("ffmpeg -nostdin -v error -i '" + f + "' -f null - 2>&1"), "");
        EXPECT_EQ(packets(f, "v"), expected);
        EXPECT_EQ(lines(run("ffprobe -v error -select_streams v -count_frames -show_entries "
                            "stream=codec_name,codec_tag_string,width,height,nb_read_frames -of csv=p=0 '" +
                            f + "'")),
                  std::vector<std::string>{"h264,x264,802,602,30"});
        EXPECT_EQ(lines(run("ffprobe -v error -select_streams a -show_entries "
                            "stream=codec_name,codec_tag_string,sample_rate,channels -of csv=p=0 '" + f + "'")),
                  std::vector<std::string>{"pcm_s16le,[1][0][0][0],44100,2"});
        EXPECT_EQ(audioEnd(f), kPictures * 1470);
    }
    // Both decode to the same pictures and sound.
    auto md5 = [](const std::string& f) {
        const auto l = lines(run("ffmpeg -nostdin -v error -i '" + f + "' -f framemd5 - 2>&1"));
        std::vector<std::string> frames;
        for (const auto& line : l)
            if (line[0] != '#') frames.push_back(line);
        return frames;
    };
    const auto a = md5(path);
    EXPECT_EQ(a.size(), 30u + 60u);   // 30 pictures, PCM in the demuxer's packets
    EXPECT_EQ(a, md5(segmented));
}

// A writer that refreshes while it writes many segments and then dies: the file on disk is read
// by ffmpeg as far as the last refresh at least, both streams, segment after segment.
TEST(AviFiles, RefreshedMultiSegmentFileOfAWriterThatDiedIsIndexedToItsLastRefresh) {
    TempDir dir;
    const std::string path = dir.file("refreshed-multi.avi");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        Writer w = openFile(path, 320, 240, 64 * 1024, true);
        if (!w.video || !w.audio) _exit(1);
        w.file->setRefreshInterval(std::chrono::milliseconds(0));
        std::vector<uint8_t> frame(1500, 0x42), block(4 * 1470, 0);
        for (int i = 0; i < 300; ++i) {
            if (!w.video->write(i, 1, frame.data(), frame.size(), i % 25 == 0 ? kKeyframe : 0) ||
                !w.audio->write(1470 * i, 1470, block.data(), block.size(), 0))
                _exit(1);
            if (i % 30 == 29 && !w.file->refresh()) _exit(1);   // every second of 30 fps
        }
        _exit(0);   // 300 frames, the last refresh after frame 269
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Everything up to the last refresh is indexed (keyframes known); ffmpeg may read on beyond it.
    const auto v = packets(path, "v");
    ASSERT_GE(v.size(), 270u);
    EXPECT_EQ(v[250], "250,K_");
    EXPECT_EQ(v[251], "251,__");
    EXPECT_GE(audioEnd(path), 270 * 1470);
}

}  // namespace
}  // namespace torvane::avi::test
