#pragma once
// Helpers of the sound system tests: an AVI file with one audio stream made the way a recording
// makes it, decoding it with ffmpeg, tone measurement, and playing a tone into the default sink.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/WaveFormat.h"
#include "platform/avi/AviWriter.h"

namespace torvane::test {

struct AudioAvi {
    std::unique_ptr<avi::AviWriter> file;
    media::ITrack* stream = nullptr;
};

std::string testDir();
AudioAvi createAudioAvi(const std::string& path, const WaveFormat& format);

struct Probe {
    std::string codec;
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;
};
Probe probeAudio(const std::string& path);

// All audio of the file as 16-bit mono at its own rate (ffmpeg down-mixes). Empty on failure.
std::vector<int16_t> decodeMono(const std::string& path);

// RMS amplitude of the `freq` component in samples [start, start + count).
double toneLevel(const std::vector<int16_t>& s, int rate, double freq, size_t start, size_t count);
// Seconds from the start to the first window (10 ms by default) whose `freq` level exceeds
// `threshold`; -1 when none. Longer windows separate nearby frequencies better.
double toneOnset(const std::vector<int16_t>& s, int rate, double freq, double threshold, double window = 0.01);
double rms(const std::vector<int16_t>& s, size_t start, size_t count);

// Starts paplay on a generated WAV of a sine (44100 Hz stereo) into the default sink.
pid_t playTone(double freq, double seconds, double amplitude = 0.5);
int waitChild(pid_t pid);

}  // namespace torvane::test
