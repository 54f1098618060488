#pragma once
// A recording's file, whatever its container: the engine and the sound threads write pictures and
// sound blocks at positions on the recording's time line. Each container has its own writer
// (platform/avi, platform/mp4) behind this interface.

#include <cstddef>
#include <cstdint>
#include <string>

namespace torvane::media {

// H.264 pictures as the encoder gives them: Annex B access units (NAL units after start codes),
// parameter sets in front of every keyframe.
struct VideoFormat {
    int width = 0;       // of the coded picture
    int height = 0;
    int frameRate = 0;   // positions per second
};

// Interleaved PCM, signed 16-bit or unsigned 8-bit.
struct SoundFormat {
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    int blockAlign() const { return channels * bitsPerSample / 8; }
};

// One track of an open file; owned by its writer, valid until the writer is destroyed.
// One thread writes a track; different tracks may be written from different threads at once.
class ITrack {
public:
    virtual ~ITrack() = default;
    // Writes `count` samples at `position` (positions for video, sample frames for sound; video
    // takes one picture a call). Positions never go back. A gap before `position` keeps the
    // picture before it on screen, or is silence. False on failure, with the reason kept by the
    // writer.
    virtual bool write(int64_t position, int count, const void* data, size_t bytes, bool keyframe) = 0;
    // Position `position` (video) keeps the picture before it.
    virtual bool writeEmpty(int64_t position) = 0;
    // The position after the last one written.
    virtual int64_t length() const = 0;
};

class IMediaWriter {
public:
    virtual ~IMediaWriter() = default;
    // Null on failure, with the reason in lastError(). Add the tracks before writing to any.
    virtual ITrack* addVideo(const VideoFormat& format) = 0;
    virtual ITrack* addSound(const SoundFormat& format) = 0;
    // No more writes to this track.
    virtual void releaseTrack(ITrack* track) = 0;
    // Completes the file and closes it; true when everything written reached the disk. Idempotent.
    // Until then a thread of the writer keeps what is written playable on disk (about once a
    // second), so a file cut off at any moment holds the recording up to then.
    virtual bool finish() = 0;

    // True when a write failed since creation (disk full, I/O error); the first reason is kept.
    virtual bool writeFailed() const = 0;
    // The first write failure once there is one, else the reason of the last refused call.
    virtual std::string lastError() const = 0;
    // The first write failure's errno (ENOSPC, EIO, EFBIG, ...; 0 when none) and text. Any thread.
    virtual int firstWriteErrno() const = 0;
    virtual std::string firstWriteError() const = 0;

    // How many positions a still picture may go without being written again: once a second by
    // default (so a seek lands within a second of a picture and a file cut off by a crash ends
    // within about a second of the cut).
    virtual int stillRepeatInterval(int frameRate) const { return frameRate; }
};

}  // namespace torvane::media
