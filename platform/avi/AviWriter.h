#pragma once
// The AVI container behind the recording-file interface: H.264 video ("x264") and PCM sound.

#include <memory>
#include <string>
#include <vector>

#include "platform/avi/AviFile.h"
#include "platform/media/MediaWriter.h"

namespace torvane::avi {

class AviWriter : public media::IMediaWriter {
public:
    // Creates (truncates) the file; null with `error` filled when it cannot.
    static std::unique_ptr<AviWriter> create(const std::string& path, std::string* error);
    ~AviWriter() override;

    media::ITrack* addVideo(const media::VideoFormat& format) override;
    media::ITrack* addSound(const media::SoundFormat& format) override;
    void releaseTrack(media::ITrack* track) override;
    bool finish() override;
    bool writeFailed() const override { return file_->writeFailed(); }
    std::string lastError() const override { return file_->lastError(); }
    int firstWriteErrno() const override { return file_->firstWriteErrno(); }
    std::string firstWriteError() const override { return file_->firstWriteError(); }

    AviFile& file() { return *file_; }

private:
    class Track;
    explicit AviWriter(std::unique_ptr<AviFile> file);
    media::ITrack* add(const StreamInfo& info, const void* format, size_t bytes);

    std::unique_ptr<AviFile> file_;
    std::vector<std::unique_ptr<Track>> tracks_;
};

}  // namespace torvane::avi
