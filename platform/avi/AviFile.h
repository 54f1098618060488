#pragma once
// RIFF/AVI writer: one file, up to a few streams, samples written at explicit positions.
// Safe for one writer thread per stream at the same time (an internal lock serialises file I/O).

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct iovec;

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
    // empty (zero-length) entries for a stream of variable-size samples, and silence for a stream
    // of fixed-size samples. Returns false on failure, with the reason kept by the file.
    // A variable-size stream takes one sample per call; a fixed-size one takes `bytes` ==
    // `sampleCount` * sampleSize. `flags` is 0 or kKeyframe.
    bool write(int64_t position, int sampleCount, const void* data, size_t bytes, uint32_t flags);
    // An empty entry at `position` of a variable-size stream (players keep showing the previous
    // sample), with empty entries for any gap before it. False as write() is.
    bool writeEmpty(int64_t position);
    // Position after the last sample written.
    int64_t length() const;

private:
    friend class AviFile;
    AviStream(AviFile& file, int index, const StreamInfo& info);
    // 8 bytes per chunk: a 10-hour recording at 30 fps keeps ~1M of these in memory.
    struct Entry {
        uint32_t offset;    // of the chunk header, from the start of its RIFF segment
        uint32_t sizeKey;   // data size (without header and pad byte); bit 31 = keyframe
    };
    // The stream's share of one RIFF segment.
    // An ix## chunk written while the segment is open, for the chunks since the one before.
    struct Part {
        uint64_t offset;
        uint32_t size;       // including the chunk header
        uint32_t duration;   // in stream units
    };
    struct Segment {
        uint64_t firstEntry = 0;
        int64_t startLength = 0;
        uint64_t ixOffset = 0;   // of its ix## chunk once written (when the segment is closed)
        uint32_t ixSize = 0;     // including the chunk header
        std::vector<Part> parts;
        size_t listedParts = 0;  // parts the headers on disk list
    };
    bool fixedSize() const { return info_.sampleSize > 0; }

    AviFile& file_;
    int index_;
    StreamInfo info_;
    uint32_t chunkId_ = 0;           // ##dc / ##wb
    uint32_t indexId_ = 0;           // ix##
    std::vector<uint8_t> format_;
    std::deque<Entry> entries_;      // grows without moving what is stored
    std::vector<Segment> segments_;
    std::vector<uint8_t> emptyChunks_;   // prebuilt headers of zero-length chunks, made on first gap
    int64_t length_ = 0;             // in stream units
    uint64_t indexedEntries_ = 0;    // entries some ix## on disk covers
    int64_t indexedLength_ = 0;      // the length they cover
    int64_t listedLength_ = 0;       // the length the headers on disk give
    int64_t pendingLength_ = 0;      // of the last refresh, listed once its index is on the disk
    size_t pendingParts_ = 0;
    uint64_t dataBytes_ = 0;
    uint32_t maxChunk_ = 0;
    uint8_t silence_ = 0;            // fill byte of an audio gap (0x80 for 8-bit PCM)
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

    // Adds a stream. Null on failure. A stream may also be added while others are being written
    // (the headers keep room for a few); it then starts at the current point of the file.
    AviStream* createStream(const StreamInfo& info);
    // Sets the stream's format record (BITMAPINFOHEADER or WAVEFORMATEX bytes), before the
    // stream's first sample. A stream is written only once it and every earlier stream have one.
    bool setFormat(AviStream* stream, const void* format, size_t bytes);
    // Returns 0: every stream starts at sample 0.
    int startStream(AviStream* stream);
    // No more writes to this stream after it is released.
    void releaseStream(AviStream* stream);
    // Writes the headers and index and closes the file. True when everything written reached the
    // disk. Idempotent.
    bool release();

    // True when any write failed since creation (disk full, I/O error); the first reason is kept.
    // Refused calls (bad arguments, wrong order) are not write failures: nothing was written.
    bool writeFailed() const;
    // The first write failure once there is one, else the reason of the last refused call.
    std::string lastError() const;
    // The first write failure: its errno (ENOSPC for a full disk, EIO, EFBIG for the file's size
    // limit, ENOMEM; 0 when none) and its text ("" when none). Any thread.
    int firstWriteErrno() const;
    std::string firstWriteError() const;
    const std::string& path() const { return path_; }

    // While the file is open, a thread of the file brings the headers, sizes and an index for
    // what is written up to date on disk and flushes it (fdatasync) every `interval`, so a file
    // cut off at any moment stays playable. 0 stops it (tests that check exact layouts).
    void setRefreshInterval(std::chrono::milliseconds interval);
    // One refresh now, as that thread does it; false on a write or flush failure. Not at the same
    // time as release().
    bool refresh();

    // As create(), with RIFF segments of at most `segmentLimit` bytes (clamped to [4 KiB, 1 GiB]) so
    // tests can reach the multi-segment layout with small files.
    static std::unique_ptr<AviFile> create(const std::string& path, std::string* error,
                                           uint64_t segmentLimit);

private:
    friend class AviStream;
    AviFile(std::string path, int fd, uint64_t segmentLimit);
    bool writeEmptyChunks(AviStream& s, int64_t position);
    bool writeChunk(AviStream& s, int64_t position, int sampleCount, const void* data, size_t bytes,
                    uint32_t flags);
    bool refuse(const std::string& reason);
    std::string writeProblem(const AviStream& s, int64_t position) const;
    bool refuseWrite(const AviStream& s, const std::string& why);
    static std::string tooFar(const AviStream& s, int64_t position);
    // `describe`: add the system's text of `err` (not for reasons the message already says).
    bool fail(const std::string& what, int err, bool describe = true);
    bool ownsStream(const AviStream* stream) const;
    bool layOutHeaders();
    size_t headerStreams() const;
    uint64_t headerBytesOfAllFormats() const;
    std::vector<uint8_t> buildHeaders(bool withMovi) const;
    bool writeHeaders();
    bool writeAt(uint64_t offset, const ::iovec* iov, int count);
    bool flushIndexBuffer(std::vector<uint8_t>& buffer, uint64_t& at);
    bool patch32(uint64_t offset, uint32_t value);
    bool makeRoom(uint64_t chunkBytes, uint64_t newEntries);
    uint64_t indexReserve(uint64_t newEntries) const;
    bool appendChunk(AviStream& s, const void* data, uint32_t size, bool key);
    bool appendEmptyChunks(AviStream& s, int64_t count);
    bool appendSilence(AviStream& s, int64_t samples);
    bool closeSegment(bool last);
    bool writeStandardIndex(AviStream& s, uint64_t from, uint64_t to, uint64_t& offset, uint32_t& size);
    bool writeIdx1();
    bool startSegment();
    bool nextSegment();
    bool finish();
    void flushLoop();
    void stopFlusher();
    bool refreshLocked(std::unique_lock<std::mutex>& lock);
    bool writeParts();
    bool publish();
    bool syncUnlocked(std::unique_lock<std::mutex>& lock);

    std::string path_;
    int fd_ = -1;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<AviStream>> streams_;
    uint64_t segmentLimit_;
    bool laidOut_ = false;         // headers placed: their room is fixed
    bool openDml_ = false;         // more than one RIFF segment
    bool hasIdx1_ = false;
    uint64_t end_ = 0;             // where the next chunk goes
    uint64_t segStart_ = 0;        // RIFF header of the open segment
    uint64_t moviList_ = 0;        // LIST movi header of the open segment
    uint64_t firstMovi_ = 0;       // LIST movi header of the first segment
    uint64_t firstMoviEnd_ = 0;    // end of the first LIST movi once it is closed
    uint64_t firstRiffEnd_ = 0;    // end of the first segment once it is closed
    uint64_t segEntries_ = 0;      // chunks of all streams in the open segment
    int segments_ = 0;
    bool finishing_ = false;       // headers take their final form
    uint64_t listedEnd_ = 0;       // end of the chunks the headers on disk cover (0: none yet)
    uint64_t pendingEnd_ = 0;
    int pendingSegments_ = 0;
    std::chrono::milliseconds refreshInterval_{1000};
    bool stopFlusher_ = false;
    std::condition_variable flusherWake_;
    std::thread flusher_;
    std::once_flag flusherStopped_;
    bool released_ = false;
    bool releaseOk_ = false;
    bool writeFailed_ = false;
    int firstWriteErrno_ = 0;
    std::string firstWriteError_;
    std::string lastError_;
};

}  // namespace torvane::avi
