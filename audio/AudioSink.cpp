#include "audio/AudioSink.h"

#include "platform/avi/AviFile.h"

namespace torvane {

bool CAviAudioSink::write(int64_t position, int samples, const void* data, size_t bytes) {
    return stream_ && stream_->write(position, samples, data, bytes, 0);
}

}  // namespace torvane
