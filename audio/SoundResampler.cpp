#include "audio/SoundResampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace torvane {

namespace {

// Frames the resampler is primed with; more than its filter reaches back, so the first frame
// it hands out after them is computed from real sound only.
constexpr int64_t kPrimeFrames = 64;
// The stretch is spread over this many seconds of output; it is renewed long before.
constexpr int64_t kCompensationSeconds = 10;

std::string avText(int rc) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(rc, buf, sizeof buf);
    return buf;
}

}  // namespace

SoundResampler::~SoundResampler() { swr_free(&swr_); }

bool SoundResampler::open(const WaveFormat& format, std::string* error) {
    if (format.blockAlign == 0 || format.samplesPerSec == 0 || format.channels == 0 ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16) ||
        format.blockAlign != format.channels * format.bitsPerSample / 8) {
        if (error) *error = "the sound format cannot be resampled";
        return false;
    }
    swr_free(&swr_);
    format_ = format;
    history_.clear();
    dropOut_ = 0;
    return true;
}

bool SoundResampler::start(std::string* error) {
    AVChannelLayout layout;
    av_channel_layout_default(&layout, format_.channels);
    const AVSampleFormat fmt = format_.bitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
    const int rate = int(format_.samplesPerSec);
    int rc = swr_alloc_set_opts2(&swr_, &layout, fmt, rate, &layout, fmt, rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    // The same rate in and out would otherwise skip the resampler, and with it compensation.
    if (rc >= 0) rc = av_opt_set_int(swr_, "flags", SWR_FLAG_RESAMPLE, 0);
    if (rc >= 0) rc = swr_init(swr_);
    if (rc < 0) {
        swr_free(&swr_);
        if (error) *error = "the sound resampler cannot start: " + avText(rc);
        return false;
    }
    // Output frame n is input frame n at an unchanged rate: the primed frames come out again
    // and are dropped.
    std::vector<uint8_t> primed;
    primed.swap(history_);
    dropOut_ = int64_t(primed.size() / format_.blockAlign);
    return convert(primed.data(), dropOut_, nullptr, error);
}

bool SoundResampler::setStretch(double stretch, std::string* error) {
    if (!swr_) {
        if (stretch == 0) return true;
        if (!start(error)) return false;
    }
    stretch_ = stretch;
    // The primed frames still held come out first, at an unchanged rate, or the first new frame
    // would be shifted by what the stretch moved them.
    return dropOut_ > 0 || applyStretch(error);
}

bool SoundResampler::applyStretch(std::string* error) {
    const int distance = int(kCompensationSeconds * format_.samplesPerSec);
    const int delta = int(std::lround(stretch_ * distance));
    const int rc = swr_set_compensation(swr_, delta, distance);
    if (rc < 0) {
        if (error) *error = "the sound resampler refused the correction: " + avText(rc);
        return false;
    }
    return true;
}

bool SoundResampler::convert(const uint8_t* in, int64_t frames, std::vector<uint8_t>* out, std::string* error) {
    const size_t frame = format_.blockAlign;
    // Room for the input, what is held, and the most the stretch adds.
    const int room = int(frames + swr_get_delay(swr_, format_.samplesPerSec) + frames / 16 + 64);
    std::vector<uint8_t> buf(size_t(room) * frame);
    uint8_t* dst[1] = {buf.data()};
    const uint8_t* src[1] = {in};
    const int got = swr_convert(swr_, dst, room, in ? src : nullptr, in ? int(frames) : 0);
    if (got < 0) {
        if (error) *error = "the sound resampler failed: " + avText(got);
        return false;
    }
    const int64_t skip = std::min<int64_t>(dropOut_, got);
    dropOut_ -= skip;
    if (out) out->insert(out->end(), buf.begin() + std::ptrdiff_t(skip * frame), buf.begin() + std::ptrdiff_t(got * frame));
    return skip == 0 || dropOut_ > 0 || applyStretch(error);
}

bool SoundResampler::process(const uint8_t* in, int64_t frames, std::vector<uint8_t>* out, std::string* error) {
    if (frames <= 0) return true;
    if (swr_) return convert(in, frames, out, error);
    const size_t bytes = size_t(frames) * format_.blockAlign;
    out->insert(out->end(), in, in + bytes);
    history_.insert(history_.end(), in, in + bytes);
    const size_t keep = size_t(kPrimeFrames) * format_.blockAlign;
    if (history_.size() > keep) history_.erase(history_.begin(), history_.end() - std::ptrdiff_t(keep));
    return true;
}

bool SoundResampler::flush(std::vector<uint8_t>* out, std::string* error) {
    return !swr_ || convert(nullptr, 0, out, error);
}

int64_t SoundResampler::heldFrames() const {
    return swr_ ? int64_t(swr_get_delay(swr_, format_.samplesPerSec)) - dropOut_ : 0;
}

}  // namespace torvane
