#include "platform/mp4/Mp4Writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include "platform/mp4/HeaderDurations.h"

namespace torvane::mp4 {

namespace {

std::string errorText(int err) {
    char buf[256];
    return strerror_r(err, buf, sizeof buf);
}

std::string avText(int code) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return buf;
}

uint32_t read32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// An Annex B access unit (start codes) as MP4 keeps it: each NAL unit after its 4-byte length.
// Empty when it does not begin with a start code.
std::vector<uint8_t> lengthPrefixed(const uint8_t* d, size_t n) {
    std::vector<size_t> starts;   // of the units' payloads
    for (size_t i = 0; i + 3 <= n;) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 3;
        } else {
            ++i;
        }
    }
    if (starts.empty() || starts[0] > 4) return {};
    std::vector<uint8_t> out;
    out.reserve(n + 4 * starts.size());
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : n;
        if (k + 1 < starts.size() && end > starts[k] && d[end - 1] == 0) --end;   // a 4-byte start code's zero
        const size_t size = end - starts[k];
        const uint8_t len[4] = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
        out.insert(out.end(), len, len + 4);
        out.insert(out.end(), d + starts[k], d + end);
    }
    return out;
}

// The decoder configuration record (avcC) from the parameter sets in front of a keyframe, whose
// NAL units each follow a 4-byte length. Empty when the picture holds no sequence or picture set.
std::vector<uint8_t> avcConfiguration(const uint8_t* data, size_t bytes) {
    const uint8_t* sps = nullptr;
    const uint8_t* pps = nullptr;
    size_t spsSize = 0, ppsSize = 0;
    for (size_t at = 0; at + 4 < bytes;) {
        const size_t size = read32(data + at);
        if (size == 0 || size > bytes - at - 4) break;
        const uint8_t* nal = data + at + 4;
        const int type = nal[0] & 0x1F;
        if (type == 7 && !sps && size >= 4) sps = nal, spsSize = size;
        if (type == 8 && !pps) pps = nal, ppsSize = size;
        at += 4 + size;
    }
    if (!sps || !pps || spsSize > 0xFFFF || ppsSize > 0xFFFF) return {};
    std::vector<uint8_t> c = {1, sps[1], sps[2], sps[3], 0xFF, 0xE1};
    c.push_back(uint8_t(spsSize >> 8));
    c.push_back(uint8_t(spsSize));
    c.insert(c.end(), sps, sps + spsSize);
    c.push_back(1);
    c.push_back(uint8_t(ppsSize >> 8));
    c.push_back(uint8_t(ppsSize));
    c.insert(c.end(), pps, pps + ppsSize);
    const int profile = sps[1];
    if (profile == 100 || profile == 110 || profile == 122 || profile == 144) {
        // 4:2:0, 8 bits, no extension sets: what the encoder makes.
        c.insert(c.end(), {0xFD, 0xF8, 0xF8, 0x00});
    }
    return c;
}

constexpr const char* kFlags = "frag_custom+empty_moov+delay_moov+default_base_moof";
constexpr std::chrono::seconds kHeaderWait{4};

}  // namespace

// ---- video ------------------------------------------------------------------------------------

// A picture lasts until the next one: each is held until the next one (or the end) says how long.
class Mp4Writer::VideoTrack : public media::ITrack {
public:
    VideoTrack(Mp4Writer& w, AVStream* st, int fps) : w(w), stream(st), fps(fps) {}
    ~VideoTrack() override { av_packet_free(&pending); }

    bool write(int64_t position, int count, const void* data, size_t bytes, bool keyframe) override {
        std::lock_guard lock(w.mutex_);
        if (released) return w.refuse("cannot write to the video of " + w.path_ + ": it is finished");
        if (count != 1 || !data || bytes == 0 || bytes > INT32_MAX)
            return w.refuse("cannot write to the video of " + w.path_ + ": one picture a call");
        if (position < end)
            return w.refuse("cannot write to the video of " + w.path_ + ": position " + std::to_string(position) +
                            " lies before " + std::to_string(end));
        if (!w.started_) {
            if (!keyframe) return w.refuse("the first picture of " + w.path_ + " must be a keyframe");
            const std::vector<uint8_t> sample = lengthPrefixed(static_cast<const uint8_t*>(data), bytes);
            if (!w.startFile(sample.data(), sample.size())) return false;
        }
        if (!writePending(position)) return false;
        const std::vector<uint8_t> sample = lengthPrefixed(static_cast<const uint8_t*>(data), bytes);
        if (sample.empty()) return w.refuse("cannot write to the video of " + w.path_ + ": not an H.264 access unit");
        pending = av_packet_alloc();
        if (!pending || av_new_packet(pending, int(sample.size())) < 0) return w.fail("cannot write " + w.path_, ENOMEM);
        std::memcpy(pending->data, sample.data(), sample.size());
        // Positions before the first picture (a first grab that came late) are shown by it: a
        // video track that starts after 0 is read as shorter than the recording, and players and
        // editors that skip the edit list would play it early against the sound.
        pending->pts = pending->dts = shown ? position : 0;
        shown = true;
        pending->stream_index = stream->index;
        if (keyframe) pending->flags |= AV_PKT_FLAG_KEY;
        end = position + 1;
        return true;
    }
    bool writeEmpty(int64_t position) override {
        std::lock_guard lock(w.mutex_);
        if (released) return w.refuse("cannot write to the video of " + w.path_ + ": it is finished");
        if (position < end)
            return w.refuse("cannot write to the video of " + w.path_ + ": position " + std::to_string(position) +
                            " lies before " + std::to_string(end));
        end = position + 1;
        return true;
    }
    int64_t length() const override {
        std::lock_guard lock(w.mutex_);
        return end;
    }
    // The held picture lasts until `end`. With the lock held.
    bool writePending(int64_t end) {
        if (!pending) return true;
        pending->duration = std::max<int64_t>(1, end - pending->pts);
        const bool ok = w.writePacket(stream, pending, fps);
        av_packet_free(&pending);
        return ok;
    }
    bool release() {
        if (released) return true;
        released = true;
        return writePending(end);
    }

    Mp4Writer& w;
    AVStream* stream;
    int fps;
    AVPacket* pending = nullptr;
    int64_t end = 0;      // the position after the last one; guarded by the writer's lock
    bool shown = false;   // a picture was written; guarded by the writer's lock
    bool released = false;
};

// ---- sound ------------------------------------------------------------------------------------

// Encodes the PCM it is given to AAC in whole frames; one thread writes it.
class Mp4Writer::SoundTrack : public media::ITrack {
public:
    SoundTrack(Mp4Writer& w, AVStream* st, AVCodecContext* enc, const media::SoundFormat& f)
        : w(w), stream(st), enc(enc), format(f), planes(size_t(f.channels)) {}
    ~SoundTrack() override {
        avcodec_free_context(&enc);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }

    bool write(int64_t position, int count, const void* data, size_t bytes, bool) override {
        const size_t block = size_t(format.blockAlign());
        std::string refused;
        if (released)
            refused = "it is finished";
        else if (count < 0 || (count > 0 && !data) || bytes != size_t(count) * block)
            refused = std::to_string(bytes) + " bytes are not " + std::to_string(count) + " sample frames";
        else if (position < samples)
            refused = "position " + std::to_string(position) + " lies before " + std::to_string(samples);
        if (!refused.empty()) {
            std::lock_guard lock(w.mutex_);
            return w.refuse("cannot write to the sound of " + w.path_ + ": " + refused);
        }
        // A gap is silence.
        for (auto& p : planes) p.resize(p.size() + size_t(position - samples), 0.0f);
        const auto* in = static_cast<const uint8_t*>(data);
        for (int i = 0; i < count; ++i) {
            for (int c = 0; c < format.channels; ++c) {
                float v;
                if (format.bitsPerSample == 8) {
                    v = (float(in[0]) - 128.0f) / 128.0f;
                    in += 1;
                } else {
                    int16_t s;
                    std::memcpy(&s, in, 2);
                    v = float(s) / 32768.0f;
                    in += 2;
                }
                planes[size_t(c)].push_back(v);
            }
        }
        samples = position + count;
        std::lock_guard lock(w.mutex_);
        lengthSeen = samples;
        return encodeWhole(false);
    }
    bool writeEmpty(int64_t) override {
        std::lock_guard lock(w.mutex_);
        return w.refuse("a sound track has no empty entries");
    }
    int64_t length() const override {
        std::lock_guard lock(w.mutex_);
        return lengthSeen;
    }

    // Encodes every whole frame held (and the rest too at the end). With the lock held.
    bool encodeWhole(bool end) {
        const size_t frameSize = size_t(enc->frame_size);
        while (planes[0].size() - consumed >= frameSize || (end && planes[0].size() > consumed)) {
            const size_t n = std::min(frameSize, planes[0].size() - consumed);
            av_frame_unref(frame);
            frame->format = AV_SAMPLE_FMT_FLTP;
            frame->sample_rate = format.sampleRate;
            frame->nb_samples = int(n);
            if (av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0 || av_frame_get_buffer(frame, 0) < 0)
                return w.fail("cannot encode the sound of " + w.path_, ENOMEM);
            for (int c = 0; c < format.channels; ++c)
                std::memcpy(frame->data[c], planes[size_t(c)].data() + consumed, n * sizeof(float));
            frame->pts = encodedSamples;
            encodedSamples += int64_t(n);
            consumed += n;
            if (!send(frame)) return false;
        }
        if (consumed >= frameSize * 16) {   // keep the buffers small
            for (auto& p : planes) p.erase(p.begin(), p.begin() + std::ptrdiff_t(consumed));
            consumed = 0;
        }
        return !end || send(nullptr);
    }
    bool send(AVFrame* f) {
        int rc = avcodec_send_frame(enc, f);
        if (rc < 0) return w.fail("cannot encode the sound of " + w.path_ + ": " + avText(rc), 0);
        while ((rc = avcodec_receive_packet(enc, packet)) == 0) {
            packet->stream_index = stream->index;
            if (!w.started_) {
                w.waiting_.push_back(av_packet_clone(packet));
                av_packet_unref(packet);
                continue;
            }
            if (!w.writePacket(stream, packet, format.sampleRate)) return false;
        }
        if (rc != AVERROR(EAGAIN) && rc != AVERROR_EOF)
            return w.fail("cannot encode the sound of " + w.path_ + ": " + avText(rc), 0);
        return true;
    }
    bool release() {
        if (released) return true;
        released = true;
        return encodeWhole(true);
    }

    Mp4Writer& w;
    AVStream* stream;
    AVCodecContext* enc;
    media::SoundFormat format;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    std::vector<std::vector<float>> planes;   // PCM not yet encoded, from `consumed` on
    size_t consumed = 0;
    int64_t samples = 0;          // sample frames written (the writing thread's own count)
    int64_t lengthSeen = 0;       // the same under the writer's lock, for other threads
    int64_t encodedSamples = 0;
    std::atomic<bool> released{false};
};

// ---- file -------------------------------------------------------------------------------------

Mp4Writer::Mp4Writer(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

std::unique_ptr<Mp4Writer> Mp4Writer::create(const std::string& path, std::string* error) {
    const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int err = path.empty() ? ENOENT : errno;
        if (error) *error = "cannot create " + path + ": " + errorText(err);
        errno = err;
        return nullptr;
    }
    // The library's notes (the sound encoder's statistics at its end) are not for our users.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });
    std::unique_ptr<Mp4Writer> w(new Mp4Writer(path, fd));
    constexpr int kBuffer = 64 * 1024;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
    if (buffer) w->io_ = avio_alloc_context(buffer, kBuffer, 1, w.get(), nullptr, &Mp4Writer::writeBytes, &Mp4Writer::seekBytes);
    if (!w->io_ || avformat_alloc_output_context2(&w->ctx_, nullptr, "mp4", nullptr) < 0 || !w->ctx_) {
        if (!w->io_) av_free(buffer);
        if (error) *error = "cannot create " + path + ": out of memory";
        errno = ENOMEM;
        return nullptr;
    }
    w->ctx_->pb = w->io_;
    w->ctx_->flags |= AVFMT_FLAG_CUSTOM_IO;
    w->flusher_ = std::thread([raw = w.get()] { raw->flushLoop(); });
    return w;
}

Mp4Writer::~Mp4Writer() {
    finish();
    for (AVPacket* p : waiting_) av_packet_free(&p);
    video_.clear();
    sound_.clear();
    if (ctx_) avformat_free_context(ctx_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

bool Mp4Writer::fail(const std::string& what, int err) {
    lastError_ = err ? what + ": " + errorText(err) : what;
    if (!writeFailed_) {
        writeFailed_ = true;
        firstWriteErrno_ = err;
        firstWriteError_ = lastError_;
    }
    return false;
}

bool Mp4Writer::refuse(const std::string& why) {
    if (!writeFailed_) lastError_ = why;
    return false;
}

bool Mp4Writer::writeFailed() const {
    std::lock_guard lock(mutex_);
    return writeFailed_;
}
std::string Mp4Writer::lastError() const {
    std::lock_guard lock(mutex_);
    return writeFailed_ ? firstWriteError_ : lastError_;
}
int Mp4Writer::firstWriteErrno() const {
    std::lock_guard lock(mutex_);
    return firstWriteErrno_;
}
std::string Mp4Writer::firstWriteError() const {
    std::lock_guard lock(mutex_);
    return firstWriteError_;
}

int Mp4Writer::writeBytes(void* opaque, uint8_t* data, int size) {
    auto* w = static_cast<Mp4Writer*>(opaque);
    for (int done = 0; done < size;) {
        const ssize_t n = ::pwrite(w->fd_, data + done, size_t(size - done), off_t(w->at_));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            const int err = n < 0 ? errno : ENOSPC;
            w->fail("cannot write " + w->path_, err);
            return AVERROR(err);
        }
        done += int(n);
        w->at_ += uint64_t(n);
        w->size_ = std::max(w->size_, w->at_);
    }
    return size;
}

int64_t Mp4Writer::seekBytes(void* opaque, int64_t offset, int whence) {
    auto* w = static_cast<Mp4Writer*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return int64_t(w->size_);
        case SEEK_SET: w->at_ = uint64_t(offset); break;
        case SEEK_CUR: w->at_ = uint64_t(int64_t(w->at_) + offset); break;
        case SEEK_END: w->at_ = uint64_t(int64_t(w->size_) + offset); break;
        default: return AVERROR(EINVAL);
    }
    return int64_t(w->at_);
}

media::ITrack* Mp4Writer::addVideo(const media::VideoFormat& format) {
    std::lock_guard lock(mutex_);
    if (started_ || format.width <= 0 || format.height <= 0 || format.frameRate <= 0) {
        refuse("cannot add a video track to " + path_ + (started_ ? ": writing has begun" : ": bad picture format"));
        return nullptr;
    }
    AVStream* st = avformat_new_stream(ctx_, nullptr);
    if (!st) return fail("cannot add a video track to " + path_, ENOMEM), nullptr;
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_H264;
    st->codecpar->width = format.width;
    st->codecpar->height = format.height;
    st->time_base = AVRational{1, format.frameRate};
    st->avg_frame_rate = AVRational{format.frameRate, 1};
    video_.push_back(std::make_unique<VideoTrack>(*this, st, format.frameRate));
    return video_.back().get();
}

media::ITrack* Mp4Writer::addSound(const media::SoundFormat& format) {
    std::lock_guard lock(mutex_);
    if (started_ || format.channels < 1 || format.channels > 2 || format.sampleRate < 8000 ||
        format.sampleRate > 96000 || (format.bitsPerSample != 8 && format.bitsPerSample != 16)) {
        refuse("cannot add a sound track to " + path_ + (started_ ? ": writing has begun" : ": unsupported sound format"));
        return nullptr;
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) return refuse("cannot add a sound track to " + path_ + ": no AAC encoder"), nullptr;
    AVCodecContext* enc = avcodec_alloc_context3(codec);
    if (!enc) return fail("cannot add a sound track to " + path_, ENOMEM), nullptr;
    enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    enc->sample_rate = format.sampleRate;
    av_channel_layout_default(&enc->ch_layout, format.channels);
    enc->bit_rate = 80000 * format.channels;   // about 160 kbit/s for stereo
    enc->profile = FF_PROFILE_AAC_LOW;
    enc->time_base = AVRational{1, format.sampleRate};
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVStream* st = nullptr;
    int rc = avcodec_open2(enc, codec, nullptr);
    if (rc >= 0) st = avformat_new_stream(ctx_, nullptr);
    if (rc < 0 || !st || avcodec_parameters_from_context(st->codecpar, enc) < 0) {
        avcodec_free_context(&enc);
        refuse("cannot add a sound track to " + path_ + (rc < 0 ? ": " + avText(rc) : std::string()));
        return nullptr;
    }
    st->time_base = AVRational{1, format.sampleRate};
    sound_.push_back(std::make_unique<SoundTrack>(*this, st, enc, format));
    return sound_.back().get();
}

// The header needs the picture's parameter sets: it is written with the first picture.
bool Mp4Writer::startFile(const uint8_t* keyframe, size_t bytes) {
    for (auto& v : video_) {
        const std::vector<uint8_t> avcc = avcConfiguration(keyframe, bytes);
        if (avcc.empty()) return refuse("the first picture of " + path_ + " holds no parameter sets");
        AVCodecParameters* par = v->stream->codecpar;
        av_freep(&par->extradata);
        par->extradata = static_cast<uint8_t*>(av_mallocz(avcc.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata) return fail("cannot write " + path_, ENOMEM);
        std::memcpy(par->extradata, avcc.data(), avcc.size());
        par->extradata_size = int(avcc.size());
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", kFlags, 0);
    // The sound's first frame (the encoder's start-up frame) lies before 0, which the edit list
    // says; nothing may be shifted for it, whichever track's samples reach the muxer first.
    av_dict_set(&options, "avoid_negative_ts", "disabled", 0);
    const int rc = avformat_write_header(ctx_, &options);
    av_dict_free(&options);
    if (rc < 0) return writeFailed_ ? false : fail("cannot write " + path_ + ": " + avText(rc), 0);
    started_ = true;
    startedAt_ = std::chrono::steady_clock::now();
    while (!waiting_.empty()) {
        AVPacket* p = waiting_.front();
        waiting_.pop_front();
        const SoundTrack* owner = nullptr;
        for (auto& s : sound_)
            if (s->stream->index == p->stream_index) owner = s.get();
        const bool ok = owner && writePacket(owner->stream, p, owner->format.sampleRate);
        av_packet_free(&p);
        if (!ok) return false;
    }
    return true;
}

bool Mp4Writer::writePacket(AVStream* stream, AVPacket* packet, int64_t unitsPerSecond) {
    if (writeFailed_) return false;
    av_packet_rescale_ts(packet, AVRational{1, int(unitsPerSecond)}, stream->time_base);
    packet->stream_index = stream->index;
    if (streamWritten_.size() <= size_t(stream->index)) streamWritten_.resize(size_t(stream->index) + 1, false);
    streamWritten_[size_t(stream->index)] = true;
    if (packet->dts != AV_NOPTS_VALUE)
        writtenEnd_ = std::max(writtenEnd_, double(packet->dts + packet->duration) * av_q2d(stream->time_base));
    const int rc = av_write_frame(ctx_, packet);
    av_packet_unref(packet);
    if (rc < 0) return writeFailed_ ? false : fail("cannot write " + path_ + ": " + avText(rc), 0);
    return true;
}

bool Mp4Writer::cutFragment() {
    if (!started_ || finished_ || writeFailed_) return !writeFailed_;
    // The first cut writes the header with each track's edit list, which needs the track's first
    // sample (the sound's begins before 0 by its encoder's start-up frame): it waits for every
    // track, a few seconds at most (a sound source that never starts).
    if (!headerCut_ && std::chrono::steady_clock::now() - startedAt_ < kHeaderWait) {
        for (unsigned i = 0; i < ctx_->nb_streams; ++i)
            if (i >= streamWritten_.size() || !streamWritten_[i]) return true;
    }
    int rc = av_write_frame(ctx_, nullptr);
    // The first cut writes only the header (it waits for the first samples to know the sound's
    // start-up frame); the samples follow at once.
    if (rc >= 0 && !headerCut_) rc = av_write_frame(ctx_, nullptr);
    headerCut_ = true;
    avio_flush(io_);
    if (rc >= 0 && !writeFailed_) {
        wholeEnd_ = at_;
        // The header says what the fragments on disk hold: a file cut off has a header that fits it.
        if (!setHeaderDurations(fd_, size_, writtenEnd_)) fail("cannot write " + path_ + ": its header is not where it was written", 0);
    }
    if (rc < 0 && !writeFailed_) fail("cannot write " + path_ + ": " + avText(rc), 0);
    return !writeFailed_;
}

bool Mp4Writer::refresh() {
    {
        std::lock_guard lock(mutex_);
        if (!cutFragment()) return false;
        if (finished_) return true;
    }
    if (::fdatasync(fd_) != 0) {
        std::lock_guard lock(mutex_);
        return fail("cannot flush " + path_, errno);
    }
    return true;
}

void Mp4Writer::setRefreshInterval(std::chrono::milliseconds interval) {
    std::lock_guard lock(mutex_);
    refreshInterval_ = interval;
    flusherWake_.notify_all();
}

void Mp4Writer::flushLoop() {
    std::unique_lock lock(mutex_);
    while (!stopFlusher_) {
        if (refreshInterval_.count() <= 0) {
            flusherWake_.wait(lock);
            continue;
        }
        if (flusherWake_.wait_for(lock, refreshInterval_, [this] { return stopFlusher_; })) break;
        lock.unlock();
        refresh();
        lock.lock();
    }
}

void Mp4Writer::stopFlusher() {
    {
        std::lock_guard lock(mutex_);
        stopFlusher_ = true;
        flusherWake_.notify_all();
    }
    if (flusher_.joinable()) flusher_.join();
}

void Mp4Writer::releaseTrack(media::ITrack* track) {
    std::lock_guard lock(mutex_);
    for (auto& v : video_)
        if (v.get() == track) v->release();
    for (auto& s : sound_)
        if (s.get() == track) s->release();
}

bool Mp4Writer::finish() {
    stopFlusher();
    std::lock_guard lock(mutex_);
    if (finished_) return finishOk_;
    bool ok = true;
    for (auto& v : video_) ok = v->release() && ok;
    for (auto& s : sound_) ok = s->release() && ok;
    if (started_) {
        const int rc = av_write_trailer(ctx_);
        avio_flush(io_);
        if (rc < 0 && !writeFailed_) fail("cannot finish " + path_ + ": " + avText(rc), 0);
        double seconds = 0;
        for (auto& v : video_) seconds = std::max(seconds, double(v->end) / v->fps);
        for (auto& s : sound_) seconds = std::max(seconds, double(s->samples) / s->format.sampleRate);
        if (!writeFailed_ && !setHeaderDurations(fd_, size_, seconds)) fail("cannot finish " + path_ + ": its header is not where it was written", 0);
    }
    finished_ = true;
    // A failed write leaves a fragment cut short at the end: the file keeps the whole ones, so
    // that readers meet no broken data.
    if (writeFailed_ && fd_ >= 0 && wholeEnd_ > 0 && wholeEnd_ < size_) (void)::ftruncate(fd_, off_t(wholeEnd_));
    if (fd_ >= 0) {
        if (::fdatasync(fd_) != 0 && !writeFailed_) fail("cannot flush " + path_, errno);
        if (::close(fd_) != 0 && !writeFailed_) fail("cannot close " + path_, errno);
        fd_ = -1;
    }
    finishOk_ = ok && !writeFailed_;
    return finishOk_;
}

}  // namespace torvane::mp4
