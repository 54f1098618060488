#pragma once
// The MP4 container behind the recording-file interface: H.264 video and AAC-LC sound (the PCM the
// sound threads write is encoded here), written as a fragmented file so that a file cut off at any
// moment plays up to its last fragment. A fragment is cut and flushed to disk twice a second;
// Stop completes the file in place (its headers then give the whole length).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/media/MediaWriter.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace torvane::mp4 {

class Mp4Writer : public media::IMediaWriter {
public:
    // Creates (truncates) the file; null with `error` filled when it cannot.
    static std::unique_ptr<Mp4Writer> create(const std::string& path, std::string* error);
    ~Mp4Writer() override;
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    media::ITrack* addVideo(const media::VideoFormat& format) override;
    media::ITrack* addSound(const media::SoundFormat& format) override;
    void releaseTrack(media::ITrack* track) override;
    bool finish() override;
    bool writeFailed() const override;
    std::string lastError() const override;
    int firstWriteErrno() const override;
    std::string firstWriteError() const override;
    // Twice a second: a picture reaches the file only once the next one says how long it lasts.
    int stillRepeatInterval(int frameRate) const override { return frameRate > 1 ? (frameRate + 1) / 2 : 1; }

    // How often a fragment is cut and flushed while recording (default 0.5 s); 0 stops it, for
    // tests that cut fragments themselves with refresh().
    void setRefreshInterval(std::chrono::milliseconds interval);
    // Cuts a fragment of what is written now and flushes the file; false on a write failure.
    bool refresh();

private:
    class VideoTrack;
    class SoundTrack;
    Mp4Writer(std::string path, int fd);

    bool fail(const std::string& what, int err);
    bool refuse(const std::string& why);
    // With the lock held.
    bool writePacket(AVStream* stream, AVPacket* packet, int64_t unitsPerSecond);
    bool startFile(const uint8_t* keyframe, size_t bytes);
    bool cutFragment();
    void flushLoop();
    void stopFlusher();
    static int writeBytes(void* opaque, uint8_t* data, int size);
    static int64_t seekBytes(void* opaque, int64_t offset, int whence);

    std::string path_;
    int fd_ = -1;
    uint64_t at_ = 0;      // where the muxer's next bytes go
    uint64_t size_ = 0;    // of the file so far
    uint64_t wholeEnd_ = 0;   // end of the last fragment written whole
    mutable std::mutex mutex_;
    AVFormatContext* ctx_ = nullptr;
    AVIOContext* io_ = nullptr;
    std::vector<std::unique_ptr<VideoTrack>> video_;
    std::vector<std::unique_ptr<SoundTrack>> sound_;
    bool started_ = false;        // the file's header is written
    bool headerCut_ = false;      // a fragment was cut (the header reached the file)
    std::chrono::steady_clock::time_point startedAt_;
    std::vector<bool> streamWritten_;   // by stream index: a sample reached the muxer
    double writtenEnd_ = 0;             // seconds: the end of the latest sample given to the muxer
    bool finished_ = false;
    bool finishOk_ = false;
    std::deque<AVPacket*> waiting_;   // sound written before the first picture told the video's format
    std::chrono::milliseconds refreshInterval_{500};
    bool stopFlusher_ = false;
    std::condition_variable flusherWake_;
    std::thread flusher_;
    bool writeFailed_ = false;
    int firstWriteErrno_ = 0;
    std::string firstWriteError_;
    std::string lastError_;
};

}  // namespace torvane::mp4
