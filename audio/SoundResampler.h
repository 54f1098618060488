#pragma once
// Stretches a PCM stream by a small, changing amount without changing its rate (libswresample's
// compensation). Until the first stretch is asked for, the sound passes through untouched; the
// resampler then starts on the last frames already passed, so the switch has no seam.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/WaveFormat.h"

struct SwrContext;

namespace torvane {

class SoundResampler {
public:
    SoundResampler() = default;
    ~SoundResampler();
    SoundResampler(const SoundResampler&) = delete;
    SoundResampler& operator=(const SoundResampler&) = delete;

    // 8-bit unsigned or 16-bit signed PCM, any channel count the format names.
    bool open(const WaveFormat& format, std::string* error);
    // Output frames per input frame, minus one, from now on (0.001: 0.1 % more frames out).
    bool setStretch(double stretch, std::string* error);
    // Appends the output for `frames` input frames to `out`.
    bool process(const uint8_t* in, int64_t frames, std::vector<uint8_t>* out, std::string* error);
    // Appends what the resampler still holds, at the end of the stream.
    bool flush(std::vector<uint8_t>* out, std::string* error);
    // Frames given in that have not come out yet.
    int64_t heldFrames() const;
    bool active() const { return swr_ != nullptr; }

private:
    bool start(std::string* error);
    bool applyStretch(std::string* error);
    bool convert(const uint8_t* in, int64_t frames, std::vector<uint8_t>* out, std::string* error);

    WaveFormat format_{};
    SwrContext* swr_ = nullptr;
    std::vector<uint8_t> history_;   // the last frames passed through, while not active
    int64_t dropOut_ = 0;            // output frames that repeat history
    double stretch_ = 0;
};

}  // namespace torvane
