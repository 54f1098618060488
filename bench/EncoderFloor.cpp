// What the encoder alone costs a picture at our settings, without grabbing or converting anything:
// the lowest CPU a recording that encodes every position can reach.
//   encoder-floor WIDTHxHEIGHT [PICTURES]
// Prints, in CPU milliseconds a picture (the process's, all threads):
//   floor_ms    every macroblock named unchanged (what the library does for any picture);
//   region_ms   a 200 x 200 part changing every picture, the rest named unchanged.

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/H264Encoder.h"

using namespace torvane;

static double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

int main(int argc, char** argv) {
    int width = 0, height = 0;
    if (argc < 2 || std::sscanf(argv[1], "%dx%d", &width, &height) != 2) {
        std::fprintf(stderr, "usage: encoder-floor WIDTHxHEIGHT [PICTURES]\n");
        return 2;
    }
    const int pictures = argc > 2 ? std::atoi(argv[2]) : 300;
    std::string error;
    auto encoder = CH264Encoder::open({width, height, 30, 0}, &error);
    if (!encoder || pictures < 1) {
        std::fprintf(stderr, "%s\n", encoder ? "PICTURES must be at least 1" : error.c_str());
        return 1;
    }
    // A desktop-like picture: flat areas with fine detail, so that the first picture is a real one.
    std::vector<uint8_t> y(size_t(width) * size_t(height)), u(y.size() / 4, 128), v(y.size() / 4, 128);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            y[size_t(r) * size_t(width) + size_t(c)] = uint8_t((r / 40 + c / 60) % 2 ? 230 : ((r * 7 + c * 3) % 11) * 20);

    EncodedPicture out;
    int64_t pts = 0;
    if (!encoder->encode(y.data(), u.data(), v.data(), pts++, true, out)) return 1;
    for (int i = 0; i < 30; ++i) encoder->encodeRepeat(y.data(), u.data(), v.data(), pts++, out);

    double start = cpuSeconds();
    for (int i = 0; i < pictures; ++i)
        if (!encoder->encodeRepeat(y.data(), u.data(), v.data(), pts++, out)) return 1;
    const double floorMs = (cpuSeconds() - start) * 1000 / pictures;

    // A 200 x 200 part in the middle, moving content; its macroblocks (and those it touches) changed.
    const int side = std::min({200, width, height}) / 2 * 2;
    const int x0 = (width - side) / 2 / 2 * 2, y0 = (height - side) / 2 / 2 * 2;
    const int columns = (width + 15) / 16, rows = (height + 15) / 16;
    std::vector<uint8_t> unchanged(size_t(columns) * size_t(rows), 1);
    for (int r = y0 / 16; r <= (y0 + side - 1) / 16; ++r)
        for (int c = x0 / 16; c <= (x0 + side - 1) / 16; ++c) unchanged[size_t(r) * size_t(columns) + size_t(c)] = 0;
    start = cpuSeconds();
    for (int i = 0; i < pictures; ++i) {
        for (int r = y0; r < y0 + side; ++r)
            for (int c = x0; c < x0 + side; ++c)
                y[size_t(r) * size_t(width) + size_t(c)] =
                    uint8_t(128 + 100 * std::sin((c + i * 5) * 0.05) * std::cos((r - i * 3) * 0.04));
        if (!encoder->encode(y.data(), u.data(), v.data(), pts++, false, out, unchanged.data())) return 1;
    }
    const double regionMs = (cpuSeconds() - start) * 1000 / pictures;

    std::printf("threads %d\nfloor_ms %.3f\nregion_ms %.3f\n", encoder->parameters().threads, floorMs, regionMs);
    return 0;
}
