#include "platform/avi/AviWriter.h"

namespace torvane::avi {

namespace {

// The stored format records of the two stream kinds (little-endian, no padding).
#pragma pack(push, 1)
struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 24;
    uint32_t biCompression = fourcc('x', '2', '6', '4');
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
struct WaveFormatEx {
    uint16_t formatTag = 1;   // PCM
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint16_t extraSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(BitmapInfoHeader) == 40 && sizeof(WaveFormatEx) == 18);

}  // namespace

class AviWriter::Track : public media::ITrack {
public:
    explicit Track(AviStream* stream) : stream(stream) {}
    bool write(int64_t position, int count, const void* data, size_t bytes, bool keyframe) override {
        return stream->write(position, count, data, bytes, keyframe ? kKeyframe : 0);
    }
    bool writeEmpty(int64_t position) override { return stream->writeEmpty(position); }
    int64_t length() const override { return stream->length(); }
    AviStream* stream;
    bool released = false;
};

AviWriter::AviWriter(std::unique_ptr<AviFile> file) : file_(std::move(file)) {}

AviWriter::~AviWriter() { finish(); }

std::unique_ptr<AviWriter> AviWriter::create(const std::string& path, std::string* error) {
    std::unique_ptr<AviFile> file = AviFile::create(path, error);
    if (!file) return nullptr;
    return std::unique_ptr<AviWriter>(new AviWriter(std::move(file)));
}

media::ITrack* AviWriter::add(const StreamInfo& info, const void* format, size_t bytes) {
    AviStream* stream = file_->createStream(info);
    if (!stream || !file_->setFormat(stream, format, bytes) || file_->startStream(stream) != 0) return nullptr;
    tracks_.push_back(std::make_unique<Track>(stream));
    return tracks_.back().get();
}

media::ITrack* AviWriter::addVideo(const media::VideoFormat& format) {
    StreamInfo video;
    video.fccType = kStreamVideo;
    video.fccHandler = fourcc('x', '2', '6', '4');
    video.scale = 1;
    video.rate = uint32_t(format.frameRate);
    video.quality = 0xFFFFFFFF;
    video.frameRight = format.width;
    video.frameBottom = format.height;
    BitmapInfoHeader bih;
    bih.biWidth = format.width;
    bih.biHeight = format.height;
    return add(video, &bih, sizeof bih);
}

media::ITrack* AviWriter::addSound(const media::SoundFormat& format) {
    WaveFormatEx wf;
    wf.channels = uint16_t(format.channels);
    wf.samplesPerSec = uint32_t(format.sampleRate);
    wf.blockAlign = uint16_t(format.blockAlign());
    wf.avgBytesPerSec = wf.samplesPerSec * wf.blockAlign;
    wf.bitsPerSample = uint16_t(format.bitsPerSample);
    StreamInfo audio;
    audio.fccType = kStreamAudio;
    audio.scale = wf.blockAlign;
    audio.rate = wf.avgBytesPerSec;
    audio.sampleSize = wf.blockAlign;
    return add(audio, &wf, sizeof wf);
}

void AviWriter::releaseTrack(media::ITrack* track) {
    for (auto& t : tracks_) {
        if (t.get() == track && !t->released) {
            file_->releaseStream(t->stream);
            t->released = true;
        }
    }
}

bool AviWriter::finish() {
    for (auto& t : tracks_) releaseTrack(t.get());
    return file_->release();
}

}  // namespace torvane::avi
