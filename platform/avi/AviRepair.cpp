#include "platform/avi/AviRepair.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/avi/AviFile.h"
#include "platform/core/ClockText.h"

namespace torvane::avi {
namespace {

constexpr uint32_t kRiff = fourcc('R', 'I', 'F', 'F');
constexpr uint32_t kList = fourcc('L', 'I', 'S', 'T');
constexpr uint32_t kMovi = fourcc('m', 'o', 'v', 'i');
constexpr uint32_t kHdrl = fourcc('h', 'd', 'r', 'l');
constexpr uint32_t kStrl = fourcc('s', 't', 'r', 'l');
constexpr size_t kMaxStreams = 100;
constexpr uint32_t kMaxFormatBytes = 65536;
constexpr uint32_t kMaxSampleBytes = 256u << 20;
constexpr uint64_t kMoviSearchBytes = 16u << 20;   // where a lost movi list is looked for
constexpr size_t kWindowBytes = 1u << 20;

std::string errorText(int err) {
    char buf[256];
    return strerror_r(err, buf, sizeof buf);
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

std::string fourccText(uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = char(v >> (8 * i));
        if (c > ' ' && c < 127) s += c;
    }
    return s.empty() ? "?" : s;
}

// Reads through a window so the byte-wise search over damaged regions stays cheap.
class Reader {
public:
    explicit Reader(int fd, uint64_t size) : fd_(fd), size_(size) {}
    uint64_t size() const { return size_; }
    bool read(uint64_t at, size_t n, uint8_t* out) {
        if (at > size_ || n > size_ - at) return false;
        if (n <= kWindowBytes / 2) {
            if (at < winStart_ || at + n > winStart_ + win_.size()) {
                win_.resize(size_t(std::min<uint64_t>(kWindowBytes, size_ - at)));
                if (!preadAll(at, win_.size(), win_.data())) return win_.clear(), false;
                winStart_ = at;
            }
            std::memcpy(out, win_.data() + (at - winStart_), n);
            return true;
        }
        return preadAll(at, n, out);
    }

private:
    bool preadAll(uint64_t at, size_t n, uint8_t* out) {
        while (n > 0) {
            const ssize_t r = ::pread(fd_, out, n, off_t(at));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            out += r, at += uint64_t(r), n -= size_t(r);
        }
        return true;
    }
    int fd_;
    uint64_t size_;
    std::vector<uint8_t> win_;
    uint64_t winStart_ = 0;
};

struct OldStream {
    StreamInfo info;
    std::vector<uint8_t> format;
    bool usable = false;
};

// The stream number of a sample chunk id ("00dc", "01wb", ...), or -1.
int sampleStream(uint32_t id, size_t streams) {
    const char a = char(id), b = char(id >> 8), c = char(id >> 16), d = char(id >> 24);
    if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
    const bool known = (c == 'd' && (d == 'c' || d == 'b')) || (c == 'w' && d == 'b');
    const int n = (a - '0') * 10 + (b - '0');
    return known && size_t(n) < streams ? n : -1;
}

bool isIndexOrFiller(uint32_t id) {
    return (char(id) == 'i' && char(id >> 8) == 'x') || id == fourcc('i', 'd', 'x', '1') ||
           id == fourcc('J', 'U', 'N', 'K') || id == fourcc('i', 'n', 'd', 'x');
}

void parseStrl(Reader& r, uint64_t at, uint64_t end, OldStream& s) {
    uint8_t h[8];
    bool haveHeader = false;
    while (at + 8 <= end && r.read(at, 8, h)) {
        const uint32_t id = le32(h), size = le32(h + 4);
        if (size > end - at - 8) break;
        if (id == fourcc('s', 't', 'r', 'h') && size >= 48) {
            uint8_t b[56] = {};
            if (!r.read(at + 8, std::min<uint32_t>(size, 56), b)) break;
            StreamInfo& in = s.info;
            in.fccType = le32(b);
            in.fccHandler = le32(b + 4);
            in.scale = le32(b + 20);
            in.rate = le32(b + 24);
            in.suggestedBufferSize = le32(b + 36);
            in.quality = le32(b + 40);
            in.sampleSize = le32(b + 44);
            if (size >= 56) {
                in.frameLeft = int16_t(le16(b + 48)), in.frameTop = int16_t(le16(b + 50));
                in.frameRight = int16_t(le16(b + 52)), in.frameBottom = int16_t(le16(b + 54));
            }
            haveHeader = true;
        } else if (id == fourcc('s', 't', 'r', 'f') && size > 0 && size <= kMaxFormatBytes) {
            s.format.resize(size);
            if (!r.read(at + 8, size, s.format.data())) s.format.clear();
        }
        at += 8 + uint64_t(size) + (size & 1);
    }
    const StreamInfo& in = s.info;
    s.usable = haveHeader && !s.format.empty() && in.scale > 0 && in.rate > 0 &&
               (in.fccType == kStreamVideo || in.fccType == kStreamAudio) && in.sampleSize <= 65535;
}

// Stream lists of the first hdrl; false when there is none.
bool parseHeaders(Reader& r, std::vector<OldStream>& streams, uint64_t& afterHdrl) {
    uint8_t h[12];
    uint64_t at = 12;
    while (at + 12 <= r.size() && r.read(at, 12, h)) {
        const uint32_t id = le32(h), size = le32(h + 4);
        if (id == kList && le32(h + 8) == kHdrl) {
            const uint64_t end = std::min<uint64_t>(at + 8 + uint64_t(size), r.size());
            uint64_t p = at + 12;
            while (p + 12 <= end && r.read(p, 12, h) && streams.size() < kMaxStreams) {
                const uint32_t cid = le32(h), csize = le32(h + 4);
                if (csize > end - p - 8) break;
                if (cid == kList && le32(h + 8) == kStrl) {
                    streams.emplace_back();
                    parseStrl(r, p + 12, p + 8 + csize, streams.back());
                }
                p += 8 + uint64_t(csize) + (csize & 1);
            }
            afterHdrl = end;
            return !streams.empty();
        }
        if (id == kList && le32(h + 8) == kMovi) return false;
        at += 8 + uint64_t(size) + (size & 1);
    }
    return false;
}

// Where the first movi list's contents start, or 0.
uint64_t findMovi(Reader& r, uint64_t from) {
    uint8_t h[12];
    const uint64_t last = std::min(r.size(), from + kMoviSearchBytes);
    for (uint64_t at = from; at + 12 <= last; ++at) {
        if (!r.read(at, 12, h)) return 0;
        if (le32(h) == kList && le32(h + 8) == kMovi) return at + 12;
    }
    return 0;
}

// H.264 in Annex B: a picture is a key when it holds an IDR slice. Other codecs: every picture.
bool isKeyPicture(uint32_t handler, const std::vector<uint8_t>& data) {
    const std::string h = fourccText(handler);
    std::string lower;
    for (char c : h) lower += char(std::tolower(static_cast<unsigned char>(c)));
    if (lower != "h264" && lower != "x264" && lower != "avc1") return true;
    for (size_t i = 0; i + 3 < data.size(); ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1f) == 5) return true;
    return false;
}

bool repairFrom(int fd, const std::string& path, const std::string& outPath, RepairReport& report,
                std::string& error) {
    report = {};
    struct stat st{};
    if (::fstat(fd, &st) != 0) return error = "cannot read " + path + ": " + errorText(errno), false;
    Reader r(fd, uint64_t(st.st_size));
    uint8_t h[12];
    if (!r.read(0, 12, h) || le32(h) != kRiff || le32(h + 8) != fourcc('A', 'V', 'I', ' '))
        return error = "cannot repair " + path + ": it is not an AVI file", false;

    std::vector<OldStream> old;
    uint64_t afterHdrl = 12;
    parseHeaders(r, old, afterHdrl);
    bool anyUsable = false;
    for (const auto& s : old) anyUsable = anyUsable || s.usable;
    if (!anyUsable) return error = "cannot repair " + path + ": its stream headers are lost", false;
    const uint64_t movi = findMovi(r, afterHdrl);
    if (!movi) return error = "cannot repair " + path + ": it holds no samples", false;

    // First pass: which samples are intact.
    struct Sample {
        uint64_t offset;   // of the data
        uint32_t size;
        int stream;
    };
    std::vector<Sample> samples;
    uint64_t at = movi;
    uint64_t damagedFrom = 0;
    bool inDamage = false;
    auto fits = [&](uint64_t p, uint32_t size) { return size <= r.size() - p - 8; };
    while (at + 8 <= r.size()) {
        if (!r.read(at, 8, h)) break;
        const uint32_t id = le32(h), size = le32(h + 4);
        const int stream = sampleStream(id, old.size());
        bool ok = false;
        uint64_t next = at;
        if (stream >= 0 && size <= kMaxSampleBytes && fits(at, size)) {
            if (old[size_t(stream)].usable) samples.push_back({at + 8, size, stream});
            next = at + 8 + size + (size & 1);
            ok = true;
        } else if ((id == kRiff || id == kList) && at + 12 <= r.size() && r.read(at, 12, h) &&
                   (le32(h + 8) == fourcc('A', 'V', 'I', 'X') || le32(h + 8) == kMovi ||
                    le32(h + 8) == fourcc('r', 'e', 'c', ' '))) {
            next = at + 12;
            ok = true;
        } else if (isIndexOrFiller(id) && fits(at, size)) {
            next = at + 8 + size + (size & 1);
            ok = true;
        }
        if (ok) {
            if (inDamage) report.bytesDropped += at - damagedFrom, inDamage = false;
            at = next;
            continue;
        }
        if (!inDamage) damagedFrom = at, inDamage = true;
        ++at;   // look for the next intact chunk header
    }
    report.bytesDropped += r.size() - (inDamage ? damagedFrom : std::min(at, r.size()));
    if (samples.empty()) return error = "cannot repair " + path + ": no intact samples", false;

    // Second pass: a new file of the streams that have samples.
    std::vector<int> newIndex(old.size(), -1);
    std::vector<bool> hasSamples(old.size(), false);
    for (const auto& s : samples) hasSamples[size_t(s.stream)] = true;
    std::string createError;
    auto file = AviFile::create(outPath, &createError);
    if (!file) return error = createError, false;
    file->setRefreshInterval(std::chrono::milliseconds(0));
    std::vector<AviStream*> out(old.size(), nullptr);
    for (size_t i = 0; i < old.size(); ++i) {
        if (!hasSamples[i]) continue;
        AviStream* s = file->createStream(old[i].info);
        if (!s || !file->setFormat(s, old[i].format.data(), old[i].format.size())) continue;
        newIndex[i] = int(report.streams.size());
        out[i] = s;
        report.streams.push_back({old[i].info.fccType, old[i].info.fccHandler, 0, 0, 0});
    }
    // The video ends on its last picture; the sound ends with it, as in a finished recording.
    double videoEnd = -1;
    {
        std::vector<int64_t> pictures(old.size(), 0), end(old.size(), 0);
        for (const auto& smp : samples) {
            const size_t i = size_t(smp.stream);
            if (!out[i] || old[i].info.sampleSize || old[i].info.fccType != kStreamVideo) continue;
            if (smp.size > 0) end[i] = pictures[i] + 1;
            ++pictures[i];
        }
        for (size_t i = 0; i < old.size(); ++i)
            if (end[i] > 0) videoEnd = std::max(videoEnd, double(end[i]) * old[i].info.scale / old[i].info.rate);
    }
    std::vector<int64_t> position(old.size(), 0);
    std::vector<uint8_t> data;
    for (const auto& smp : samples) {
        const size_t i = size_t(smp.stream);
        if (!out[i]) continue;
        const StreamInfo& in = old[i].info;
        uint32_t size = smp.size;
        if (in.sampleSize) size -= size % in.sampleSize;
        if (in.sampleSize && videoEnd >= 0 && in.scale > 0) {
            // In doubles: a damaged header's rates can put the limit beyond any integer, and a
            // limit that far is none. Below `size` the room fits 32 bits.
            const double limit = std::floor(videoEnd * in.rate / in.scale + 0.5);
            const double room = std::max(0.0, limit - double(position[i])) * in.sampleSize;
            if (double(size) > room) {
                report.bytesDropped += size - uint32_t(room);
                size = uint32_t(room);
            }
        }
        if (size == 0) {
            // An empty picture is a repeated one; an empty or partial-sample audio chunk is dropped.
            if (!in.sampleSize) ++position[i];
            continue;
        }
        data.resize(size);
        if (!r.read(smp.offset, size, data.data())) continue;
        const int count = in.sampleSize ? int(size / in.sampleSize) : 1;
        const uint32_t flags = in.fccType == kStreamVideo ? (isKeyPicture(in.fccHandler, data) ? kKeyframe : 0)
                                                          : kKeyframe;
        if (!out[i]->write(position[i], count, data.data(), size, flags)) {
            if (file->writeFailed()) {
                error = file->lastError();
                file->release();
                ::unlink(outPath.c_str());
                return false;
            }
            continue;   // refused: the sample does not fit its stream
        }
        position[i] += count;
        RepairedStream& rs = report.streams[size_t(newIndex[i])];
        rs.chunks++;
        report.bytesKept += size;
    }
    // Empty pictures after the last kept one are left out: readers that skip empty entries would
    // end the video at its last picture while its headers said otherwise. A finished recording
    // ends on a picture; a repaired one does too.
    for (size_t i = 0; i < old.size(); ++i) {
        if (newIndex[i] < 0) continue;
        RepairedStream& rs = report.streams[size_t(newIndex[i])];
        rs.length = out[i]->length();
        rs.seconds = double(rs.length) * old[i].info.scale / old[i].info.rate;
        report.seconds = std::max(report.seconds, rs.seconds);
    }
    const bool released = file->release();
    if (!released || report.bytesKept == 0) {
        error = released ? "cannot repair " + path + ": no intact samples" : file->lastError();
        ::unlink(outPath.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string RepairReport::summary() const {
    std::string s = "kept ";
    for (size_t i = 0; i < streams.size(); ++i) {
        const RepairedStream& st = streams[i];
        if (i) s += i + 1 == streams.size() ? " and " : ", ";
        const bool video = st.fccType == kStreamVideo;
        s += std::string(video ? "video (" : "sound (") + (video ? fourccText(st.fccHandler) + ", " : "") +
             std::to_string(st.length) + (video ? " frames)" : " samples)");
    }
    s += ": " + clockText(seconds) + "; dropped " + std::to_string(bytesDropped) + " bytes";
    return s;
}

bool repairAviFile(const std::string& path, const std::string& outPath, RepairReport& report,
                   std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return error = "cannot open " + path + ": " + errorText(errno), false;
    bool ok = false;
    try {
        ok = repairFrom(fd, path, outPath, report, error);
    } catch (const std::bad_alloc&) {
        error = "cannot repair " + path + ": out of memory";
    }
    ::close(fd);
    return ok;
}

bool repairAviFileInPlace(const std::string& path, RepairReport& report, std::string& error) {
    const std::string temp = path + ".repairing";
    if (!repairAviFile(path, temp, report, error)) return false;
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + errorText(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace torvane::avi
