#pragma once
// Where a sound source writes its PCM: the AVI audio stream in a recording.

#include <cstddef>
#include <cstdint>

namespace torvane {
namespace avi {
class AviStream;
}

class IAudioSink {
public:
    virtual ~IAudioSink() = default;
    // Writes `samples` sample frames at `position` (frames written so far). False on failure.
    virtual bool write(int64_t position, int samples, const void* data, size_t bytes) = 0;
};

class CAviAudioSink : public IAudioSink {
public:
    explicit CAviAudioSink(avi::AviStream* stream) : stream_(stream) {}
    bool write(int64_t position, int samples, const void* data, size_t bytes) override;

private:
    avi::AviStream* stream_;
};

}  // namespace torvane
