#pragma once
// The stream headers and format records the recorder hands to the AVI writer.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/avi/AviFile.h"

namespace torvane::avi::test {

inline int32_t roundUp4(int32_t v) { return v % 4 == 0 ? v : v / 4 * 4 + 4; }

inline StreamInfo videoInfo(int width, int height, uint32_t fps) {
    StreamInfo i;
    i.fccType = kStreamVideo;
    i.fccHandler = fourcc('x', '2', '6', '4');
    i.scale = 1;
    i.rate = fps;
    i.quality = 0xFFFFFFFF;
    i.frameRight = roundUp4(width);
    i.frameBottom = roundUp4(height);
    return i;
}

inline void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
}
inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    put16(b, at, v), put16(b, at + 2, v >> 16);
}

// BITMAPINFOHEADER, 40 bytes.
inline std::vector<uint8_t> bitmapInfo(const StreamInfo& video) {
    std::vector<uint8_t> b(40, 0);
    put32(b, 0, 40);
    put32(b, 4, uint32_t(video.frameRight));
    put32(b, 8, uint32_t(video.frameBottom));
    put16(b, 12, 1);
    put16(b, 14, 24);
    put32(b, 16, fourcc('x', '2', '6', '4'));
    return b;
}

// WAVEFORMATEX for PCM, 18 bytes with cbSize 0.
inline std::vector<uint8_t> waveFormat(uint32_t rate, int channels, int bits) {
    std::vector<uint8_t> b(18, 0);
    const uint32_t align = uint32_t(channels * bits / 8);
    put16(b, 0, 1);
    put16(b, 2, uint32_t(channels));
    put32(b, 4, rate);
    put32(b, 8, rate * align);
    put16(b, 12, align);
    put16(b, 14, uint32_t(bits));
    return b;
}

inline StreamInfo audioInfo(const std::vector<uint8_t>& wave) {
    StreamInfo i;
    i.fccType = kStreamAudio;
    i.scale = uint32_t(wave[12] | wave[13] << 8);
    i.rate = uint32_t(wave[8] | wave[9] << 8 | wave[10] << 16 | uint32_t(wave[11]) << 24);
    i.sampleSize = i.scale;
    return i;
}

// Bytes that differ from chunk to chunk, so a misplaced one shows.
inline std::vector<uint8_t> payload(size_t size, uint8_t seed) {
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed + i * 7);
    return b;
}

// A video stream with its format, as the recorder opens it; null when the file refuses.
inline AviStream* addVideo(AviFile& file, const StreamInfo& info) {
    const std::vector<uint8_t> bih = bitmapInfo(info);
    AviStream* video = file.createStream(info);
    return video && file.setFormat(video, bih.data(), bih.size()) ? video : nullptr;
}

// A private folder for a test's files, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = "/tmp/torvane-avi-XXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A video stream and a sound stream (8 kHz mono 16-bit) with their formats, as the recorder opens
// them; nulls when the file refuses.
struct VideoAndSound {
    AviStream* video = nullptr;
    AviStream* audio = nullptr;
};
inline VideoAndSound addVideoAndSound(AviFile& file, const StreamInfo& info) {
    const std::vector<uint8_t> bih = bitmapInfo(info), wave = waveFormat(8000, 1, 16);
    VideoAndSound v{file.createStream(info), file.createStream(audioInfo(wave))};
    if (!v.video || !v.audio || !file.setFormat(v.video, bih.data(), bih.size()) ||
        !file.setFormat(v.audio, wave.data(), wave.size()))
        return {};
    return v;
}

}  // namespace torvane::avi::test
