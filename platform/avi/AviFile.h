#pragma once
// RIFF/AVI writer: one file, up to a few streams, samples written at explicit positions.
// Safe for one writer thread per stream at the same time (an internal lock serialises file I/O).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace torvane::avi {

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kStreamVideo = fourcc('v', 'i', 'd', 's');
constexpr uint32_t kStreamAudio = fourcc('a', 'u', 'd', 's');
constexpr uint32_t kKeyframe = 0x10;   // AVIIF_KEYFRAME

// The fields of a stream header the callers set; everything else is derived or zero.
struct StreamInfo {
    uint32_t fccType = 0;
    uint32_t fccHandler = 0;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t quality = 0;
    uint32_t suggestedBufferSize = 0;
    uint32_t sampleSize = 0;
    int32_t frameLeft = 0, frameTop = 0, frameRight = 0, frameBottom = 0;
};

class AviFile;

// A stream of an open file. Owned by its file; valid until the file is released.
class AviStream {
public:
    // Writes `sampleCount` samples at `position` (in the stream's own units: frames for video,
    // sample frames for audio). Positions must not go backwards; a gap before `position` becomes
    // empty (zero-length) entries for a stream of variable-size samples. Returns false on failure,
    // with the reason kept by the file.
    bool write(int64_t position, int sampleCount, const void* data, size_t bytes, uint32_t flags);
    // Position after the last sample written.
    int64_t length() const;

private:
    friend class AviFile;
    AviStream(AviFile& file, int index, const StreamInfo& info);
    struct Entry {
        uint64_t offset;   // of the chunk header, from the start of the file
        uint32_t size;     // of the data, without the chunk header
        uint32_t flags;
    };
    AviFile& file_;
    int index_;
    StreamInfo info_;
    std::vector<uint8_t> format_;
    std::vector<Entry> entries_;
    int64_t length_ = 0;          // in stream units
    uint32_t maxChunk_ = 0;
    bool started_ = false;
    bool released_ = false;
};

class AviFile {
public:
    // Creates (truncates) the file. Returns null and fills `error` when it cannot be created.
    static std::unique_ptr<AviFile> create(const std::string& path, std::string* error);
    ~AviFile();   // finishes the file if release() was not called

    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;

    // Adds a stream. Only before the first sample of any stream is written. Null on failure.
    AviStream* createStream(const StreamInfo& info);
    // Sets the stream's format record (BITMAPINFOHEADER or WAVEFORMATEX bytes).
    bool setFormat(AviStream* stream, const void* format, size_t bytes);
    // Returns 0: every stream starts at sample 0.
    int startStream(AviStream* stream);
    // No more writes to this stream after it is released.
    void releaseStream(AviStream* stream);
    // Writes the headers and index and closes the file. True when everything written reached the
    // disk. Idempotent.
    bool release();

    // True when any write failed since creation (disk full, I/O error); the first reason is kept.
    bool writeFailed() const;
    std::string lastError() const;
    const std::string& path() const { return path_; }

private:
    friend class AviStream;
    AviFile(std::string path, int fd);
    bool writeChunk(AviStream& s, int64_t position, int sampleCount, const void* data, size_t bytes,
                    uint32_t flags);

    std::string path_;
    int fd_ = -1;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<AviStream>> streams_;
    // Implementation state (RIFF segment bookkeeping etc.) lives in the .cpp via this pointer.
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool released_ = false;
    bool writeFailed_ = false;
    std::string lastError_;
};

}  // namespace torvane::avi
