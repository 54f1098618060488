#pragma once
// Where a sound source writes its PCM: the sound track of a recording's file.

#include <cstddef>
#include <cstdint>

namespace torvane {
namespace media {
class ITrack;
}

class IAudioSink {
public:
    virtual ~IAudioSink() = default;
    // Writes `samples` sample frames at `position` (frames written so far). False on failure.
    virtual bool write(int64_t position, int samples, const void* data, size_t bytes) = 0;
};

class CTrackAudioSink : public IAudioSink {
public:
    explicit CTrackAudioSink(media::ITrack* track) : track_(track) {}
    bool write(int64_t position, int samples, const void* data, size_t bytes) override;

private:
    media::ITrack* track_;
};

}  // namespace torvane
