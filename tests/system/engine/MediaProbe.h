#pragma once
// Reads recorded files back with ffprobe and ffmpeg.

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

inline std::string runCommand(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        std::array<char, 4096> buf;
        size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
        pclose(p);
    }
    return out;
}

// What ffmpeg says while decoding the whole file; empty for a clean file.
inline std::string decodeErrors(const std::string& file) {
    return runCommand("ffmpeg -nostdin -v error -i '" + file + "' -f null - 2>&1");
}

struct Packet {
    int64_t pts = 0;
    int size = 0;
    bool key = false;
};

inline bool isMp4(const std::string& file) { return file.size() > 4 && file.compare(file.size() - 4, 4, ".mp4") == 0; }

// The container the recording tests write: TORVANE_TEST_CONTAINER=mp4 runs them on MP4 files.
inline std::string testExtension() {
    const char* c = std::getenv("TORVANE_TEST_CONTAINER");
    return c && std::strcmp(c, "mp4") == 0 ? ".mp4" : ".avi";
}

// Video packets in file order, with positions (decoding timestamps) in frame units. An AVI
// stream's time unit is its frame period; an MP4 track's is finer, so its times are converted at
// the stream's rate.
inline std::vector<Packet> videoPackets(const std::string& file) {
    std::vector<Packet> out;
    int num = 0, den = 1;
    if (isMp4(file))
        std::sscanf(runCommand("ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 '" +
                               file + "'").c_str(), "%d/%d", &num, &den);
    std::istringstream in(runCommand("ffprobe -v error -select_streams v:0 -show_entries packet=" +
                                     std::string(num > 0 ? "dts_time" : "dts") + ",size,flags -of csv=p=0 '" +
                                     file + "'"));
    std::string line;
    while (std::getline(in, line)) {
        Packet p;
        char flags[16] = {};
        double seconds = 0;
        if (num > 0 ? std::sscanf(line.c_str(), "%lf,%d,%15s", &seconds, &p.size, flags) >= 2
                    : std::sscanf(line.c_str(), "%ld,%d,%15s", &p.pts, &p.size, flags) >= 2) {
            if (num > 0) p.pts = std::llround(seconds * num / den);
            p.key = flags[0] == 'K';
            out.push_back(p);
        }
    }
    return out;
}

// Positions in the video stream's time line, empty entries included (ffprobe lists only pictures).
inline int64_t videoPositions(const std::string& file) {
    return std::atoll(runCommand("ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 '" +
                                 file + "'").c_str());
}

// The duration GStreamer's own demuxer sees, in seconds; negative when it cannot read the file.
inline double gstDuration(const std::string& file) {
    const std::string out = runCommand("gst-discoverer-1.0 '" + file + "' 2>&1");
    const size_t at = out.find("Duration: ");
    int h = 0, m = 0;
    double sec = 0;
    if (at == std::string::npos || std::sscanf(out.c_str() + at, "Duration: %d:%d:%lf", &h, &m, &sec) != 3) return -1;
    return h * 3600.0 + m * 60.0 + sec;
}

inline std::string probeStream(const std::string& file, const std::string& stream, const std::string& entries) {
    std::string s = runCommand("ffprobe -v error -select_streams " + stream + " -show_entries stream=" + entries +
                               " -of default=nw=1 '" + file + "'");
    return s;
}

// One decoded picture (0-based index among decoded frames) as packed RGB.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    std::array<int, 3> at(int x, int y) const {
        const size_t i = (size_t(y) * size_t(width) + size_t(x)) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

inline Picture decodePicture(const std::string& file, int index, int width, int height) {
    Picture p;
    p.width = width;
    p.height = height;
    const std::string raw = runCommand("ffmpeg -nostdin -v error -i '" + file + "' -vf 'select=eq(n\\," +
                                       std::to_string(index) + ")' -vsync 0 -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    p.rgb.assign(raw.begin(), raw.end());
    return p;
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The first BITMAPINFOHEADER in the file's headers: (biWidth, biHeight).
inline std::pair<int32_t, int32_t> aviFrameSize(const std::string& path) {
    const std::vector<uint8_t> b = readFile(path);
    for (size_t i = 0; i + 20 < b.size() && i < 65536; ++i) {
        if (b[i] == 's' && b[i + 1] == 't' && b[i + 2] == 'r' && b[i + 3] == 'f') {
            int32_t w, h;
            std::memcpy(&w, &b[i + 12], 4);
            std::memcpy(&h, &b[i + 16], 4);
            return {w, h};
        }
    }
    return {0, 0};
}
