#include "platform/avi/AviFile.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>

// File layout:
//   RIFF 'AVI '  LIST hdrl (avih, LIST strl per stream (strh, strf, indx), LIST odml (dmlh)), JUNK,
//                LIST movi (##dc/##wb chunks, ix## per stream when there is more than one segment), idx1
//   RIFF 'AVIX'  LIST movi (chunks, ix## per stream)          (only beyond the segment limit)
// Files that stay in one segment are plain AVI: indx and odml are kept as JUNK of the same size, so
// the headers can always be rewritten in place; the JUNK before movi leaves room for streams added
// later. The headers list the leading streams that have a format.
// While recording, a refresh every second appends an ix## per stream for the chunks since the last
// one, flushes, then rewrites the headers (OpenDML form, indx listing those ix##, lengths, RIFF and
// movi sizes up to the refresh) and flushes again: a file cut off at any moment is a valid file of
// what the last refresh covered. Closing a segment replaces its parts in indx by one ix## for it.

namespace torvane::avi {
namespace {

constexpr uint64_t kDefaultSegmentLimit = 1ull << 30;
constexpr uint64_t kMinSegmentLimit = 4096;
constexpr size_t kMaxStreams = 100;             // chunk ids carry the stream number in two digits
constexpr size_t kMaxFormatBytes = 65536;
constexpr size_t kMaxChunkBytes = 1u << 30;
constexpr uint32_t kMaxSampleSize = 65535;      // nBlockAlign is 16-bit
constexpr uint32_t kMaxSegments = 256;          // 256 GiB at the default limit
// The super index lists every closed segment and each part of the open one; when it is full the
// open segment closes, which lists it once (a segment takes at least ~4 min at one refresh a
// second, so a file holds at least ~27 h).
constexpr uint32_t kSuperIndexEntries = 2 * kMaxSegments;
constexpr int64_t kMaxEmptyGap = 1 << 22;       // positions (~38 h at 30 fps)
constexpr uint64_t kMaxSilenceGapBytes = 1ull << 28;
constexpr uint32_t kSilenceChunkBytes = 65536;
constexpr int64_t kEmptyChunksPerWrite = 512;
constexpr size_t kIndexBufferBytes = 65536;
constexpr uint32_t kKeyBit = 0x80000000u;

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAviIndexOfIndexes = 0;
constexpr uint32_t kAviIndexOfChunks = 1;

constexpr uint32_t kAvihBytes = 56;
constexpr uint32_t kStrhBytes = 56;
constexpr uint32_t kDmlhBytes = 248;
constexpr uint32_t kSuperIndexBytes = 24 + 16 * kSuperIndexEntries;   // without chunk header
constexpr uint32_t kStdIndexHeaderBytes = 32;                         // with chunk header
constexpr uint32_t kIdx1EntryBytes = 16;
constexpr uint64_t kMoviAlign = 2048;
// Header room kept for streams added after the first sample (the sound stream is created while
// the capture thread already writes video): three stream lists.
constexpr uint64_t kLateStreamRoom = 3 * (kSuperIndexBytes + 1024);

constexpr uint32_t kRiff = fourcc('R', 'I', 'F', 'F');
constexpr uint32_t kList = fourcc('L', 'I', 'S', 'T');
constexpr uint32_t kJunk = fourcc('J', 'U', 'N', 'K');
constexpr uint32_t kMovi = fourcc('m', 'o', 'v', 'i');

std::string errorText(int err) {
    char buf[256];
    return strerror_r(err, buf, sizeof buf);
}

// Little-endian appender for header and index bytes.
struct Bytes {
    std::vector<uint8_t>& b;
    void u8(uint32_t v) { b.push_back(uint8_t(v)); }
    void u16(uint32_t v) { u8(v), u8(v >> 8); }
    void u32(uint32_t v) { u16(v), u16(v >> 16); }
    void u64(uint64_t v) { u32(uint32_t(v)), u32(uint32_t(v >> 32)); }
    void zeros(size_t n) { b.insert(b.end(), n, 0); }
    size_t pos() const { return b.size(); }
    void set32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    }
    // Starts a chunk (or LIST when `listType` is set); returns where its size goes.
    size_t open(uint32_t id, uint32_t listType = 0) {
        u32(id);
        size_t at = pos();
        u32(0);
        if (listType) u32(listType);
        return at;
    }
    void close(size_t sizeAt) { set32(sizeAt, uint32_t(pos() - sizeAt - 4)); }
};

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

const uint8_t* silenceBuffer(uint8_t value) {
    static const std::vector<uint8_t> zeros(kSilenceChunkBytes, 0);
    static const std::vector<uint8_t> midpoints(kSilenceChunkBytes, 0x80);
    return value ? midpoints.data() : zeros.data();
}

std::string streamName(int index) { return "stream " + std::to_string(index); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// AviStream

AviStream::AviStream(AviFile& file, int index, const StreamInfo& info)
    : file_(file), index_(index), info_(info) {
    const char d1 = char('0' + index / 10), d2 = char('0' + index % 10);
    const bool video = info.fccType == kStreamVideo;
    chunkId_ = fourcc(d1, d2, video ? 'd' : 'w', video ? 'c' : 'b');
    indexId_ = fourcc('i', 'x', d1, d2);
}

bool AviStream::write(int64_t position, int sampleCount, const void* data, size_t bytes,
                      uint32_t flags) {
    return file_.writeChunk(*this, position, sampleCount, data, bytes, flags);
}

bool AviStream::writeEmpty(int64_t position) { return file_.writeEmptyChunks(*this, position); }

int64_t AviStream::length() const {
    std::lock_guard lock(file_.mutex_);
    return length_;
}

// ---------------------------------------------------------------------------------------------
// Creation and stream set-up

AviFile::AviFile(std::string path, int fd, uint64_t segmentLimit)
    : path_(std::move(path)), fd_(fd), segmentLimit_(segmentLimit) {
    flusher_ = std::thread(&AviFile::flushLoop, this);
}

AviFile::~AviFile() { release(); }

std::unique_ptr<AviFile> AviFile::create(const std::string& path, std::string* error) {
    return create(path, error, kDefaultSegmentLimit);
}

std::unique_ptr<AviFile> AviFile::create(const std::string& path, std::string* error,
                                         uint64_t segmentLimit) {
    auto setError = [&](const std::string& text) {
        if (error) *error = text;
    };
    if (path.empty()) {
        setError("cannot create the AVI file: no file name");
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        setError("cannot create " + path + ": " + errorText(errno));
        return nullptr;
    }
    segmentLimit = std::clamp(segmentLimit, kMinSegmentLimit, kDefaultSegmentLimit);
    try {
        return std::unique_ptr<AviFile>(new AviFile(path, fd, segmentLimit));
    } catch (const std::bad_alloc&) {
        ::close(fd);
        setError("cannot create " + path + ": out of memory");
        return nullptr;
    } catch (const std::system_error& e) {
        ::close(fd);
        setError("cannot create " + path + ": cannot start its flush thread: " + e.what());
        return nullptr;
    }
}

bool AviFile::refuse(const std::string& reason) {
    lastError_ = reason;
    return false;
}

bool AviFile::fail(const std::string& what, int err, bool describe) {
    lastError_ = err && describe ? what + ": " + errorText(err) : what;
    if (!writeFailed_) {
        writeFailed_ = true;
        firstWriteErrno_ = err;
        firstWriteError_ = lastError_;
    }
    return false;
}

bool AviFile::ownsStream(const AviStream* stream) const {
    if (!stream) return false;
    for (const auto& s : streams_)
        if (s.get() == stream) return true;
    return false;
}

AviStream* AviFile::createStream(const StreamInfo& info) {
    std::lock_guard lock(mutex_);
    auto refused = [&](const std::string& why) {
        refuse("cannot create a stream in " + path_ + ": " + why);
        return nullptr;
    };
    if (released_) return refused("the file is already released");
    if (streams_.size() >= kMaxStreams) return refused("too many streams");
    if (info.fccType != kStreamVideo && info.fccType != kStreamAudio)
        return refused("the stream type is neither video nor audio");
    if (info.scale == 0 || info.rate == 0) return refused("the rate and scale must not be 0");
    if (info.sampleSize > kMaxSampleSize) return refused("the sample size is too large");
    auto fitsShort = [](int32_t v) {
        return v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
    };
    if (!fitsShort(info.frameLeft) || !fitsShort(info.frameTop) || !fitsShort(info.frameRight) ||
        !fitsShort(info.frameBottom) || info.frameRight < info.frameLeft ||
        info.frameBottom < info.frameTop)
        return refused("the frame rectangle is out of range");
    try {
        const int index = int(streams_.size());
        auto stream = std::unique_ptr<AviStream>(new AviStream(*this, index, info));
        // Added while samples are written: it joins the open segment, empty in the earlier ones.
        if (laidOut_) stream->segments_.resize(size_t(segments_));
        streams_.push_back(std::move(stream));
        return streams_.back().get();
    } catch (const std::bad_alloc&) {
        return refused("out of memory");
    }
}

bool AviFile::setFormat(AviStream* stream, const void* format, size_t bytes) {
    std::lock_guard lock(mutex_);
    if (released_) return refuse("cannot set a format: " + path_ + " is already released");
    if (!ownsStream(stream)) return refuse("cannot set a format: not a stream of " + path_);
    AviStream& s = *stream;
    const std::string name = streamName(s.index_);
    if (s.released_) return refuse("cannot set the format of released " + name);
    if (!s.entries_.empty())
        return refuse("cannot change the format of " + name + " after samples were written");
    if (!format || bytes == 0) return refuse("cannot set an empty format for " + name);
    if (bytes > kMaxFormatBytes) return refuse("the format of " + name + " is too large");
    std::vector<uint8_t> previous;
    try {
        const auto* p = static_cast<const uint8_t*>(format);
        previous = s.format_;
        s.format_.assign(p, p + bytes);
        if (laidOut_ && headerBytesOfAllFormats() + 8 > firstMovi_) {
            s.format_ = std::move(previous);
            return refuse("cannot set the format of " + name + ": no room left in the headers of " +
                          path_);
        }
    } catch (const std::bad_alloc&) {
        return refuse("cannot set the format of " + name + ": out of memory");
    }
    // WAVEFORMATEX: 8-bit PCM is unsigned, its silence is 0x80.
    s.silence_ = 0;
    if (s.info_.fccType == kStreamAudio && bytes >= 16) {
        const auto* p = s.format_.data();
        const unsigned tag = p[0] | p[1] << 8, bits = p[14] | p[15] << 8;
        if (tag == 1 && bits == 8) s.silence_ = 0x80;
    }
    // A stream added after the first sample goes into the headers on disk at once.
    return !laidOut_ || writeHeaders();
}

int AviFile::startStream(AviStream* stream) {
    std::lock_guard lock(mutex_);
    if (released_) return refuse("cannot start a stream: " + path_ + " is already released"), -1;
    if (!ownsStream(stream)) return refuse("cannot start a stream: not a stream of " + path_), -1;
    if (stream->released_) return refuse("cannot start released " + streamName(stream->index_)), -1;
    stream->started_ = true;
    return 0;
}

void AviFile::releaseStream(AviStream* stream) {
    std::lock_guard lock(mutex_);
    if (!ownsStream(stream)) {
        refuse("cannot release a stream: not a stream of " + path_);
        return;
    }
    stream->released_ = true;
}

bool AviFile::writeFailed() const {
    std::lock_guard lock(mutex_);
    return writeFailed_;
}

std::string AviFile::lastError() const {
    std::lock_guard lock(mutex_);
    return writeFailed_ ? firstWriteError_ : lastError_;
}

int AviFile::firstWriteErrno() const {
    std::lock_guard lock(mutex_);
    return firstWriteErrno_;
}

std::string AviFile::firstWriteError() const {
    std::lock_guard lock(mutex_);
    return firstWriteError_;
}

// ---------------------------------------------------------------------------------------------
// Headers

size_t AviFile::headerStreams() const {
    size_t n = 0;
    while (n < streams_.size() && !streams_[n]->format_.empty()) ++n;
    return n;
}

// Size of RIFF header and hdrl once every stream that has a format is listed (a stream is listed
// when all before it have one too), so room given to a format is never needed twice.
uint64_t AviFile::headerBytesOfAllFormats() const {
    uint64_t n = 12 + 12 + 8 + kAvihBytes + 12 + 8 + kDmlhBytes;
    for (const auto& s : streams_) {
        const uint64_t f = s->format_.size();
        if (f) n += 12 + 8 + kStrhBytes + 8 + f + (f & 1) + 8 + kSuperIndexBytes;
    }
    return n;
}

std::vector<uint8_t> AviFile::buildHeaders(bool withMovi) const {
    const size_t count = headerStreams();
    const auto listed = [&](size_t i) -> const AviStream& { return *streams_[i]; };
    std::vector<uint8_t> buffer;
    buffer.reserve(size_t(firstMovi_ ? firstMovi_ + 12 : 4096 * (count + 1)));
    Bytes b{buffer};
    const AviStream* video = nullptr;
    for (size_t i = 0; i < count && !video; ++i)
        if (listed(i).info_.fccType == kStreamVideo) video = &listed(i);
    auto firstSegmentLength = [](const AviStream& s) {
        return s.segments_.size() > 1 ? s.segments_[1].startLength : s.listedLength_;
    };

    // Until the first segment is closed, its sizes are those of the last refresh.
    const bool open = segments_ == 1 && !firstRiffEnd_;
    const bool odml = openDml_ || (!finishing_ && listedEnd_ != 0);
    b.u32(kRiff);
    b.u32(firstRiffEnd_ ? uint32_t(firstRiffEnd_ - 8) : open && listedEnd_ ? uint32_t(listedEnd_ - 8) : 0);
    b.u32(fourcc('A', 'V', 'I', ' '));
    const size_t hdrl = b.open(kList, fourcc('h', 'd', 'r', 'l'));

    // Main header.
    uint32_t usPerFrame = 0, maxChunk = 0, width = 0, height = 0;
    if (video) {
        usPerFrame = uint32_t(std::llround(1e6 * video->info_.scale / video->info_.rate));
        width = uint32_t(video->info_.frameRight - video->info_.frameLeft);
        height = uint32_t(video->info_.frameBottom - video->info_.frameTop);
    }
    double seconds = 0;
    uint64_t bytes = 0;
    for (size_t i = 0; i < count; ++i) {
        const AviStream& s = listed(i);
        maxChunk = std::max(maxChunk, s.maxChunk_);
        bytes += s.dataBytes_;
        seconds = std::max(seconds, double(s.listedLength_) * s.info_.scale / s.info_.rate);
    }
    const double perSecond = seconds > 0 ? std::min(bytes / seconds, 4294967295.0) : 0;
    const size_t avih = b.open(fourcc('a', 'v', 'i', 'h'));
    b.u32(usPerFrame);
    b.u32(uint32_t(perSecond));
    b.u32(0);                                  // padding granularity
    b.u32(hasIdx1_ ? kAvifHasIndex : 0);
    b.u32(video ? uint32_t(firstSegmentLength(*video)) : 0);
    b.u32(0);                                  // initial frames
    b.u32(uint32_t(count));
    b.u32(maxChunk);
    b.u32(width);
    b.u32(height);
    b.zeros(16);
    b.close(avih);

    for (size_t i = 0; i < count; ++i) {
        const AviStream& s = listed(i);
        const StreamInfo& in = s.info_;
        const size_t strl = b.open(kList, fourcc('s', 't', 'r', 'l'));
        const size_t strh = b.open(fourcc('s', 't', 'r', 'h'));
        b.u32(in.fccType);
        b.u32(in.fccHandler);
        b.u32(0);   // flags
        b.u16(0);   // priority
        b.u16(0);   // language
        b.u32(0);   // initial frames
        b.u32(in.scale);
        b.u32(in.rate);
        b.u32(0);   // start
        b.u32(uint32_t(s.listedLength_));
        b.u32(std::max(in.suggestedBufferSize, s.maxChunk_));
        b.u32(in.quality);
        b.u32(in.sampleSize);
        b.u16(uint16_t(in.frameLeft));
        b.u16(uint16_t(in.frameTop));
        b.u16(uint16_t(in.frameRight));
        b.u16(uint16_t(in.frameBottom));
        b.close(strh);

        const size_t strf = b.open(fourcc('s', 't', 'r', 'f'));
        buffer.insert(buffer.end(), s.format_.begin(), s.format_.end());
        b.close(strf);
        if (s.format_.size() & 1) b.u8(0);

        // Super index, or the same room as JUNK while the file is a single segment.
        b.u32(odml ? fourcc('i', 'n', 'd', 'x') : kJunk);
        b.u32(kSuperIndexBytes);
        const size_t indexStart = b.pos();
        if (odml) {
            b.u16(4);   // longs per entry
            b.u8(0);    // sub type
            b.u8(kAviIndexOfIndexes);
            const size_t usedAt = b.pos();
            b.u32(0);
            b.u32(s.chunkId_);
            b.zeros(12);
            uint32_t used = 0;
            for (size_t k = 0; k < s.segments_.size(); ++k) {
                const auto& seg = s.segments_[k];
                if (seg.ixOffset) {
                    const int64_t end = k + 1 < s.segments_.size() ? s.segments_[k + 1].startLength
                                                                   : s.listedLength_;
                    b.u64(seg.ixOffset);
                    b.u32(seg.ixSize);
                    b.u32(uint32_t(end - seg.startLength));
                    ++used;
                    continue;
                }
                for (size_t p = 0; p < seg.listedParts; ++p, ++used) {
                    b.u64(seg.parts[p].offset);
                    b.u32(seg.parts[p].size);
                    b.u32(seg.parts[p].duration);
                }
            }
            b.set32(usedAt, used);
        }
        b.zeros(kSuperIndexBytes - (b.pos() - indexStart));
        b.close(strl);
    }

    if (odml) {
        const size_t odmlList = b.open(kList, fourcc('o', 'd', 'm', 'l'));
        const size_t dmlh = b.open(fourcc('d', 'm', 'l', 'h'));
        b.u32(video ? uint32_t(video->listedLength_) : 0);
        b.zeros(kDmlhBytes - 4);
        b.close(dmlh);
        b.close(odmlList);
    } else {
        b.u32(kJunk);
        b.u32(4 + 8 + kDmlhBytes);
        b.zeros(4 + 8 + kDmlhBytes);
    }
    b.close(hdrl);

    if (withMovi && firstMovi_) {
        const size_t junk = b.open(kJunk);
        b.zeros(size_t(firstMovi_) - b.pos());
        b.close(junk);
        b.u32(kList);
        b.u32(firstMoviEnd_            ? uint32_t(firstMoviEnd_ - firstMovi_ - 8)
              : open && listedEnd_ ? uint32_t(listedEnd_ - firstMovi_ - 8)
                                   : 0);
        b.u32(kMovi);
    }
    return buffer;
}

bool AviFile::layOutHeaders() {
    if (streams_.empty()) return refuse("cannot write " + path_ + ": it has no streams");
    if (headerStreams() == 0) return refuse("cannot write " + path_ + ": stream 0 has no format");
    const uint64_t hdrlEnd = buildHeaders(false).size();
    firstMovi_ = (hdrlEnd + 8 + kLateStreamRoom + kMoviAlign - 1) / kMoviAlign * kMoviAlign;
    moviList_ = firstMovi_;
    segStart_ = 0;
    end_ = firstMovi_ + 12;
    segments_ = 1;
    segEntries_ = 0;
    for (auto& s : streams_) s->segments_.push_back({});
    laidOut_ = true;
    return writeHeaders();
}

bool AviFile::writeHeaders() {
    const std::vector<uint8_t> h = buildHeaders(true);
    const iovec iov{const_cast<uint8_t*>(h.data()), h.size()};
    return writeAt(0, &iov, 1);
}

// ---------------------------------------------------------------------------------------------
// Raw output

// Writes what an index buffer holds at `at`, moves `at` past it and empties the buffer.
bool AviFile::flushIndexBuffer(std::vector<uint8_t>& buffer, uint64_t& at) {
    const iovec iov{buffer.data(), buffer.size()};
    const bool ok = writeAt(at, &iov, 1);
    at += buffer.size();
    buffer.clear();
    return ok;
}

bool AviFile::writeAt(uint64_t offset, const ::iovec* iov, int count) {
    if (fd_ < 0) return fail("cannot write " + path_ + ": the file is closed", EBADF, false);
    iovec local[4];
    count = std::min(count, 4);
    std::copy(iov, iov + count, local);
    int i = 0;
    while (i < count) {
        if (local[i].iov_len == 0) {
            ++i;
            continue;
        }
        const ssize_t n = ::pwritev(fd_, local + i, count - i, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("cannot write " + path_, n < 0 ? errno : ENOSPC);
        offset += uint64_t(n);
        size_t left = size_t(n);
        while (left > 0 && i < count) {
            const size_t take = std::min(left, local[i].iov_len);
            local[i].iov_base = static_cast<uint8_t*>(local[i].iov_base) + take;
            local[i].iov_len -= take;
            left -= take;
            if (local[i].iov_len == 0) ++i;
        }
    }
    return true;
}

bool AviFile::patch32(uint64_t offset, uint32_t value) {
    uint8_t b[4];
    putLe32(b, value);
    const iovec iov{b, 4};
    return writeAt(offset, &iov, 1);
}

// ---------------------------------------------------------------------------------------------
// Segments

// Bytes the open segment still needs at its end for its indexes, counting `newEntries` more chunks.
uint64_t AviFile::indexReserve(uint64_t newEntries) const {
    const uint64_t entries = segEntries_ + newEntries;
    // The segment's own ix## per stream, and the next refresh's part for what it has not indexed.
    uint64_t r = 2 * streams_.size() * kStdIndexHeaderBytes + 8 * entries;
    for (const auto& s : streams_) r += 8 * (s->entries_.size() - s->indexedEntries_);
    r += 8 * newEntries;
    if (segments_ == 1) r += 8 + kIdx1EntryBytes * entries;
    return r;
}

bool AviFile::makeRoom(uint64_t chunkBytes, uint64_t newEntries) {
    if (segEntries_ == 0) return true;   // every segment takes at least one chunk
    if (end_ - segStart_ + chunkBytes + indexReserve(newEntries) <= segmentLimit_) return true;
    return nextSegment();
}

bool AviFile::nextSegment() {
    if (uint32_t(segments_) >= kMaxSegments)
        return fail("cannot write " + path_ + ": the file has reached its size limit", EFBIG, false);
    const bool closed = closeSegment(false);
    return startSegment() && closed;
}

bool AviFile::startSegment() {
    uint8_t h[24];
    putLe32(h, kRiff);
    putLe32(h + 4, 0);
    putLe32(h + 8, fourcc('A', 'V', 'I', 'X'));
    putLe32(h + 12, kList);
    putLe32(h + 16, 0);
    putLe32(h + 20, kMovi);
    const iovec iov{h, sizeof h};
    const bool ok = writeAt(end_, &iov, 1);
    segStart_ = end_;
    moviList_ = end_ + 12;
    end_ += sizeof h;
    ++segments_;
    segEntries_ = 0;
    for (auto& s : streams_) s->segments_.push_back({s->entries_.size(), s->length_, 0, 0, {}, 0});
    return ok;
}

// ix## of the stream's entries from `from` up to `to`, at the end; its place goes to `offset` and
// `size`. Entries after `to` are left for a later index.
bool AviFile::writeStandardIndex(AviStream& s, uint64_t from, uint64_t to, uint64_t& offset, uint32_t& size) {
    const uint64_t count = to - from;
    if (count == 0) return true;
    const uint64_t total = kStdIndexHeaderBytes + 8 * count;
    std::vector<uint8_t> buffer;
    buffer.reserve(kIndexBufferBytes);
    Bytes b{buffer};
    b.u32(s.indexId_);
    b.u32(uint32_t(total - 8));
    b.u16(2);   // longs per entry
    b.u8(0);    // sub type
    b.u8(kAviIndexOfChunks);
    b.u32(uint32_t(count));
    b.u32(s.chunkId_);
    b.u64(segStart_);
    b.u32(0);
    uint64_t at = end_;
    auto flush = [&] { return flushIndexBuffer(buffer, at); };
    for (uint64_t i = from; i < to; ++i) {
        const AviStream::Entry& e = s.entries_[i];
        b.u32(e.offset + 8);   // of the data, from the base offset
        b.u32((e.sizeKey & ~kKeyBit) | ((e.sizeKey & kKeyBit) ? 0 : kKeyBit));   // bit 31: not a key
        if (buffer.size() + 8 > kIndexBufferBytes && !flush()) return false;
    }
    if (!flush()) return false;
    offset = end_;
    size = uint32_t(total);
    end_ += total;
    // Entries of a variable-size stream are one position each.
    s.indexedLength_ = s.length_ - int64_t(s.entries_.size() - to);
    s.indexedEntries_ = to;
    return true;
}

// idx1 of the first segment: every stream's chunks in file order.
bool AviFile::writeIdx1() {
    uint64_t count = 0;
    for (const auto& s : streams_) count += s->entries_.size();
    std::vector<uint8_t> buffer;
    buffer.reserve(kIndexBufferBytes);
    Bytes b{buffer};
    b.u32(fourcc('i', 'd', 'x', '1'));
    b.u32(uint32_t(kIdx1EntryBytes * count));
    uint64_t at = end_;
    auto flush = [&] { return flushIndexBuffer(buffer, at); };
    std::vector<size_t> next(streams_.size(), 0);
    const uint32_t moviData = uint32_t(firstMovi_ + 8);
    for (uint64_t written = 0; written < count; ++written) {
        size_t best = streams_.size();
        for (size_t k = 0; k < streams_.size(); ++k) {
            if (next[k] >= streams_[k]->entries_.size()) continue;
            if (best == streams_.size() ||
                streams_[k]->entries_[next[k]].offset < streams_[best]->entries_[next[best]].offset)
                best = k;
        }
        const AviStream& s = *streams_[best];
        const AviStream::Entry& e = s.entries_[next[best]++];
        b.u32(s.chunkId_);
        b.u32((e.sizeKey & kKeyBit) ? kKeyframe : 0);
        b.u32(e.offset - moviData);   // from the 'movi' list type
        b.u32(e.sizeKey & ~kKeyBit);
        if (buffer.size() + kIdx1EntryBytes > kIndexBufferBytes && !flush()) return false;
    }
    if (!flush()) return false;
    end_ += 8 + kIdx1EntryBytes * count;
    hasIdx1_ = true;
    return true;
}

// Ends the open segment: its indexes, its final sizes and, for the first one, idx1. Closing a
// segment that is not the last rewrites the headers too, so every closed segment stays indexed even
// if the writer dies later.
bool AviFile::closeSegment(bool last) {
    bool ok = true;
    if (!last || openDml_)
        for (auto& s : streams_) {
            AviStream::Segment& seg = s->segments_.back();
            ok = writeStandardIndex(*s, seg.firstEntry, s->entries_.size(), seg.ixOffset, seg.ixSize) && ok;
        }
    for (auto& s : streams_) s->listedLength_ = s->length_;
    const uint64_t moviEnd = end_;
    ok = patch32(moviList_ + 4, uint32_t(moviEnd - moviList_ - 8)) && ok;
    if (segments_ == 1) {
        firstMoviEnd_ = moviEnd;
        ok = writeIdx1() && ok;
        firstRiffEnd_ = end_;
    }
    ok = patch32(segStart_ + 4, uint32_t(end_ - segStart_ - 8)) && ok;
    if (!last) {
        openDml_ = true;
        ok = writeHeaders() && ok;
    }
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Chunks

bool AviFile::appendChunk(AviStream& s, const void* data, uint32_t size, bool key) {
    // Every block of fixed-size samples (PCM) can be decoded alone: readers that look for keyframes
    // in every stream find one in each entry.
    key = key || s.fixedSize();
    const uint32_t pad = size & 1;
    const uint64_t bytes = 8 + uint64_t(size) + pad;
    if (!makeRoom(bytes, 1)) return false;
    uint8_t header[8];
    putLe32(header, s.chunkId_);
    putLe32(header + 4, size);
    static const uint8_t padByte = 0;
    const iovec iov[3] = {{header, 8},
                          {const_cast<void*>(data), size},
                          {const_cast<uint8_t*>(&padByte), pad}};
    if (!writeAt(end_, iov, 3)) return false;
    s.entries_.push_back({uint32_t(end_ - segStart_), size | (key ? kKeyBit : 0)});
    end_ += bytes;
    ++segEntries_;
    s.maxChunk_ = std::max(s.maxChunk_, size);
    s.dataBytes_ += size;
    return true;
}

bool AviFile::appendEmptyChunks(AviStream& s, int64_t count) {
    if (s.emptyChunks_.empty()) {
        s.emptyChunks_.assign(size_t(8 * kEmptyChunksPerWrite), 0);
        for (int64_t i = 0; i < kEmptyChunksPerWrite; ++i)
            putLe32(s.emptyChunks_.data() + 8 * i, s.chunkId_);
    }
    while (count > 0) {
        // Each empty chunk costs its header plus its entries in ix## and (first segment) idx1.
        const uint64_t perChunk = 16 + (segments_ == 1 ? kIdx1EntryBytes : 0);
        const uint64_t used = end_ - segStart_ + indexReserve(0);
        int64_t fit = used < segmentLimit_ ? int64_t((segmentLimit_ - used) / perChunk) : 0;
        if (fit == 0) {
            if (segEntries_ > 0) {
                if (!nextSegment()) return false;
                continue;
            }
            fit = 1;
        }
        const int64_t n = std::min({count, fit, kEmptyChunksPerWrite});
        const iovec iov{s.emptyChunks_.data(), size_t(8 * n)};
        if (!writeAt(end_, &iov, 1)) return false;
        for (int64_t i = 0; i < n; ++i)
            s.entries_.push_back({uint32_t(end_ - segStart_ + 8 * i), 0});
        end_ += uint64_t(8 * n);
        segEntries_ += uint64_t(n);
        s.length_ += n;
        count -= n;
    }
    return true;
}

bool AviFile::appendSilence(AviStream& s, int64_t samples) {
    const int64_t perChunk = std::max<int64_t>(1, kSilenceChunkBytes / s.info_.sampleSize);
    while (samples > 0) {
        const int64_t n = std::min(samples, perChunk);
        if (!appendChunk(s, silenceBuffer(s.silence_), uint32_t(n * s.info_.sampleSize), false))
            return false;
        s.length_ += n;
        samples -= n;
    }
    return true;
}

// Why `s` cannot take a write at `position` now, or empty: the checks every write shares.
std::string AviFile::writeProblem(const AviStream& s, int64_t position) const {
    if (released_) return "the file is already released";
    if (s.released_) return "the stream is released";
    if (position < 0) return "negative position";
    if (position < s.length_)
        return "position " + std::to_string(position) + " is before the stream's end " +
               std::to_string(s.length_);
    if (size_t(s.index_) >= headerStreams())
        return s.format_.empty() ? "the stream has no format" : "an earlier stream has no format";
    return {};
}

bool AviFile::refuseWrite(const AviStream& s, const std::string& why) {
    return refuse("cannot write to " + streamName(s.index_) + " of " + path_ + ": " + why);
}

std::string AviFile::tooFar(const AviStream& s, int64_t position) {
    return "position " + std::to_string(position) + " is too far beyond the end " + std::to_string(s.length_);
}

bool AviFile::writeEmptyChunks(AviStream& s, int64_t position) {
    std::lock_guard lock(mutex_);
    if (const std::string why = writeProblem(s, position); !why.empty()) return refuseWrite(s, why);
    if (s.fixedSize()) return refuseWrite(s, "a stream of fixed-size samples has no empty entries");
    if (position >= int64_t(std::numeric_limits<uint32_t>::max()) || position - s.length_ >= kMaxEmptyGap)
        return refuseWrite(s, tooFar(s, position));
    try {
        if (!laidOut_ && !layOutHeaders()) return false;
        return appendEmptyChunks(s, position - s.length_ + 1);
    } catch (const std::bad_alloc&) {
        return fail("cannot write to " + streamName(s.index_) + " of " + path_ + ": out of memory", 0);
    }
}

bool AviFile::writeChunk(AviStream& s, int64_t position, int sampleCount, const void* data,
                         size_t bytes, uint32_t flags) {
    std::lock_guard lock(mutex_);
    if (const std::string why = writeProblem(s, position); !why.empty()) return refuseWrite(s, why);
    if (sampleCount <= 0) return refuseWrite(s, "no samples");
    if (!data || bytes == 0) return refuseWrite(s, "no data");
    if (bytes > kMaxChunkBytes) return refuseWrite(s, "the sample is too large");
    if (flags & ~kKeyframe) return refuseWrite(s, "unknown flags");
    const bool fixed = s.fixedSize();
    if (fixed && bytes != uint64_t(sampleCount) * s.info_.sampleSize)
        return refuseWrite(s, "the data is not " + std::to_string(sampleCount) + " samples of " +
                                  std::to_string(s.info_.sampleSize) + " bytes");
    if (!fixed && sampleCount != 1) return refuseWrite(s, "a variable-size sample is written one at a time");
    const int64_t gap = position - s.length_;
    if (position > int64_t(std::numeric_limits<uint32_t>::max()) - sampleCount)
        return refuseWrite(s, "the stream would be too long");
    if (fixed ? uint64_t(gap) * s.info_.sampleSize > kMaxSilenceGapBytes : gap > kMaxEmptyGap)
        return refuseWrite(s, tooFar(s, position));
    try {
        if (!laidOut_ && !layOutHeaders()) return false;
        if (gap > 0 && !(fixed ? appendSilence(s, gap) : appendEmptyChunks(s, gap))) return false;
        if (!appendChunk(s, data, uint32_t(bytes), flags & kKeyframe)) return false;
        s.length_ += sampleCount;
        return true;
    } catch (const std::bad_alloc&) {
        return fail("cannot write to " + streamName(s.index_) + " of " + path_ + ": out of memory", ENOMEM, false);
    }
}

// ---------------------------------------------------------------------------------------------
// Release

bool AviFile::finish() {
    if (!laidOut_ && !layOutHeaders()) return false;
    finishing_ = true;
    bool ok = closeSegment(true);
    ok = writeHeaders() && ok;
    // A failed chunk may have left bytes beyond the end.
    if (::ftruncate(fd_, off_t(end_)) != 0 && errno != EINVAL) ok = fail("cannot truncate " + path_, errno) && ok;
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS)
        ok = fail("cannot flush " + path_, errno) && ok;
    return ok;
}

bool AviFile::release() {
    stopFlusher();
    std::lock_guard lock(mutex_);
    if (released_) return releaseOk_;
    bool ok = false;
    try {
        ok = finish();
    } catch (const std::bad_alloc&) {
        ok = fail("cannot finish " + path_ + ": out of memory", ENOMEM, false);
    }
    if (fd_ >= 0 && ::close(fd_) != 0) ok = fail("cannot close " + path_, errno);
    fd_ = -1;
    released_ = true;
    for (auto& s : streams_) s->released_ = true;
    releaseOk_ = ok && !writeFailed_;
    return releaseOk_;
}

// ---------------------------------------------------------------------------------------------
// Refresh while recording

void AviFile::setRefreshInterval(std::chrono::milliseconds interval) {
    std::lock_guard lock(mutex_);
    refreshInterval_ = std::max(interval, std::chrono::milliseconds(0));
    flusherWake_.notify_all();
}

void AviFile::stopFlusher() {
    std::call_once(flusherStopped_, [this] {
        {
            std::lock_guard lock(mutex_);
            stopFlusher_ = true;
        }
        flusherWake_.notify_all();
        if (flusher_.joinable()) flusher_.join();
    });
}

void AviFile::flushLoop() {
    std::unique_lock lock(mutex_);
    while (!stopFlusher_) {
        const auto interval = refreshInterval_;
        if (interval.count() == 0) {
            flusherWake_.wait(lock);
            continue;
        }
        // A changed interval counts from now.
        if (flusherWake_.wait_for(lock, interval, [&] { return stopFlusher_ || refreshInterval_ != interval; }))
            continue;
        try {
            refreshLocked(lock);
        } catch (const std::bad_alloc&) {
            fail("cannot refresh " + path_ + ": out of memory", ENOMEM, false);
        }
    }
}

bool AviFile::refresh() {
    std::unique_lock lock(mutex_);
    if (released_) return refuse("cannot refresh " + path_ + ": it is already released");
    try {
        return refreshLocked(lock);
    } catch (const std::bad_alloc&) {
        return fail("cannot refresh " + path_ + ": out of memory", ENOMEM, false);
    }
}

// Flushes with the lock released, so writers go on while the disk works.
bool AviFile::syncUnlocked(std::unique_lock<std::mutex>& lock) {
    const int fd = fd_;
    lock.unlock();
    const int r = ::fdatasync(fd);
    const int err = errno;
    lock.lock();
    if (r != 0 && err != EINVAL && err != EROFS) return fail("cannot flush " + path_, err);
    return true;
}

// The headers are rewritten only once the index they point to is on the disk: whatever a power
// loss keeps, the headers describe bytes that are there.
bool AviFile::refreshLocked(std::unique_lock<std::mutex>& lock) {
    if (!laidOut_ || released_ || fd_ < 0) return true;
    bool any = false;
    for (const auto& s : streams_) any = any || s->entries_.size() > s->indexedEntries_;
    if (!any) return true;
    if (!writeParts()) return false;
    if (!syncUnlocked(lock)) return false;
    if (released_ || finishing_) return true;
    if (!publish()) return false;
    return syncUnlocked(lock);
}

// Appends one ix## per stream for its chunks since the last one.
bool AviFile::writeParts() {
    size_t parts = 0;
    for (const auto& sp : streams_) parts = std::max(parts, sp->segments_.back().parts.size());
    if (parts + size_t(segments_ - 1) >= kSuperIndexEntries) {
        // Closing the segment indexes it as a whole and writes the headers.
        if (!nextSegment()) return false;
        pendingSegments_ = 0;
        return true;
    }
    for (auto& sp : streams_) {
        AviStream& s = *sp;
        AviStream::Segment& seg = s.segments_.back();
        const uint64_t from = std::max(s.indexedEntries_, seg.firstEntry);
        const int64_t before = s.indexedLength_;
        // A picture stream is listed up to its last picture: readers that skip empty entries would
        // see it end there, so a file cut off later lasts, to every reader, what its headers say.
        uint64_t to = s.entries_.size();
        if (!s.fixedSize())
            while (to > from && (s.entries_[to - 1].sizeKey & ~kKeyBit) == 0) --to;
        AviStream::Part part{0, 0, 0};
        if (from < to) {
            if (!writeStandardIndex(s, from, to, part.offset, part.size)) return false;
            part.duration = uint32_t(s.indexedLength_ - before);
            seg.parts.push_back(part);
        }
        s.pendingLength_ = s.indexedLength_;
        s.pendingParts_ = seg.parts.size();
    }
    // Other chunks may follow before the headers are written; the sizes stop here.
    pendingEnd_ = end_;
    pendingSegments_ = segments_;
    return true;
}

bool AviFile::publish() {
    if (pendingSegments_ != segments_) return true;   // a segment closed since: its headers are newer
    for (auto& s : streams_) {
        s->listedLength_ = s->pendingLength_;
        s->segments_.back().listedParts = s->pendingParts_;
    }
    listedEnd_ = pendingEnd_;
    bool ok = writeHeaders();
    if (segments_ > 1) {
        ok = patch32(moviList_ + 4, uint32_t(listedEnd_ - moviList_ - 8)) && ok;
        ok = patch32(segStart_ + 4, uint32_t(listedEnd_ - segStart_ - 8)) && ok;
    }
    return ok;
}

}  // namespace torvane::avi
