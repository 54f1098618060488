#include "platform/alsa/AlsaPcm.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>

namespace torvane::alsa {
namespace {
// alsa-lib prints its errors to stderr by default; ours are returned to the caller instead.
void quiet(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

void silenceLibraryMessages() {
    static const bool once = (snd_lib_error_set_handler(&quiet), true);
    (void)once;
}

bool captureCapabilities(const std::string& device, PcmCapabilities* caps, std::string* error) {
    silenceLibraryMessages();
    *caps = PcmCapabilities{};
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (rc < 0) {
        if (error) *error = std::string("no sound input device: ") + snd_strerror(rc);
        return false;
    }
    snd_pcm_hw_params_t* all = nullptr;
    snd_pcm_hw_params_t* p = nullptr;
    snd_pcm_hw_params_malloc(&all);
    snd_pcm_hw_params_malloc(&p);
    bool ok = snd_pcm_hw_params_any(pcm, all) >= 0;
    for (int ch = 1; ok && ch <= 2; ++ch) {
        for (int b = 0; b < 2; ++b) {
            for (unsigned rate : {48000u, 44100u}) {
                snd_pcm_hw_params_copy(p, all);
                bool fits = snd_pcm_hw_params_set_access(pcm, p, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
                            snd_pcm_hw_params_set_format(pcm, p, b ? SND_PCM_FORMAT_S16_LE : SND_PCM_FORMAT_U8) >= 0 &&
                            snd_pcm_hw_params_set_channels(pcm, p, ch) >= 0 &&
                            snd_pcm_hw_params_test_rate(pcm, p, rate, 0) >= 0;
                (rate == 48000 ? caps->rate48000 : caps->rate44100)[ch][b] = fits;
            }
        }
    }
    snd_pcm_hw_params_free(p);
    snd_pcm_hw_params_free(all);
    snd_pcm_close(pcm);
    if (!ok && error) *error = "the sound input device reports no formats";
    return ok;
}

std::unique_ptr<CapturePcm> CapturePcm::open(const std::string& device, uint32_t rate, int channels,
                                             int bits, uint32_t periodBytes, std::string* error) {
    if ((bits != 8 && bits != 16) || channels < 1 || channels > 2 || rate == 0) {
        if (error) *error = "unsupported sound format";
        return nullptr;
    }
    silenceLibraryMessages();
    std::unique_ptr<CapturePcm> self(new CapturePcm());
    self->frameBytes_ = uint32_t(channels * bits / 8);
    int rc = snd_pcm_open(&self->pcm_, device.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (rc < 0) {
        self->pcm_ = nullptr;
        if (error) *error = std::string("no sound input device: ") + snd_strerror(rc);
        return nullptr;
    }
    snd_pcm_uframes_t period = std::max<uint32_t>(periodBytes / self->frameBytes_, 64);
    snd_pcm_hw_params_t* p = nullptr;
    snd_pcm_hw_params_malloc(&p);
    unsigned r = rate;
    rc = snd_pcm_hw_params_any(self->pcm_, p);
    if (rc >= 0) rc = snd_pcm_hw_params_set_access(self->pcm_, p, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (rc >= 0) rc = snd_pcm_hw_params_set_format(self->pcm_, p, bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE);
    if (rc >= 0) rc = snd_pcm_hw_params_set_channels(self->pcm_, p, unsigned(channels));
    if (rc >= 0) rc = snd_pcm_hw_params_set_rate_near(self->pcm_, p, &r, nullptr);
    if (rc >= 0) rc = snd_pcm_hw_params_set_period_size_near(self->pcm_, p, &period, nullptr);
    if (rc >= 0) {
        snd_pcm_uframes_t buffer = period * 8;
        rc = snd_pcm_hw_params_set_buffer_size_near(self->pcm_, p, &buffer);
    }
    if (rc >= 0) rc = snd_pcm_hw_params(self->pcm_, p);
    snd_pcm_hw_params_free(p);
    if (rc >= 0 && r != rate) rc = -EINVAL;
    if (rc >= 0) rc = snd_pcm_prepare(self->pcm_);
    if (rc >= 0) rc = snd_pcm_start(self->pcm_);
    if (rc < 0) {
        if (error) *error = std::string("cannot open the sound input device: ") + snd_strerror(rc);
        return nullptr;
    }
    return self;
}

CapturePcm::~CapturePcm() {
    if (pcm_) {
        snd_pcm_drop(pcm_);
        snd_pcm_close(pcm_);
    }
}

int CapturePcm::read(void* dst, size_t maxBytes, int timeoutMs) {
    snd_pcm_uframes_t frames = maxBytes / frameBytes_;
    if (frames == 0) return 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (interrupted_) return 0;
        snd_pcm_sframes_t n = snd_pcm_readi(pcm_, dst, frames);
        if (n > 0) return int(n * frameBytes_);
        if (n == -EAGAIN || n == 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return 0;
            snd_pcm_wait(pcm_, int(std::min<long long>(left, 50)));
            continue;
        }
        // Overrun or suspend: recover once, else the device is gone.
        if (snd_pcm_recover(pcm_, int(n), 1) == 0 && snd_pcm_start(pcm_) >= 0) continue;
        error_ = std::string("sound input device failed: ") + snd_strerror(int(n));
        return -1;
    }
}

}  // namespace torvane::alsa
