#include "audio/AudioSink.h"

#include "platform/media/MediaWriter.h"

namespace torvane {

bool CTrackAudioSink::write(int64_t position, int samples, const void* data, size_t bytes) {
    return track_ && track_->write(position, samples, data, bytes, false);
}

}  // namespace torvane
