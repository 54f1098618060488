#include "audio/WaveInCapture.h"

#include <cstring>

#include "audio/AudioRing.h"
#include "audio/AudioSink.h"
#include "audio/SoundCapture.h"
#include "audio/SoundPlatform.h"

namespace torvane {

CWaveInCapture::CWaveInCapture(WaveFormat& ownerFormat, CSoundCapture* owner, bool inherit,
                               ISoundDevices& devices)
    : owner_(owner), devices_(devices) {
    if (inherit) {
        format_ = ownerFormat;
    } else {
        bool ok = false;
        uint32_t caps = devices_.inputCapabilities(&ok, &lastError_);
        format_ = formatFromCapabilities(caps, ok);
        if (ok && format_.blockAlign == 0) lastError_ = "the sound input device offers no usable format";
        ownerFormat = format_;
    }
}

CWaveInCapture::~CWaveInCapture() { stopThread(false); }

int CWaveInCapture::start(IAudioSink* sink, Clock::time_point origin) {
    if (running()) return 0;
    if (format_.blockAlign == 0) {
        if (lastError_.empty()) lastError_ = "no usable sound input format";
        return -1;
    }
    // Fragments of a quarter block keep delivery steady; the thread assembles whole blocks.
    uint32_t blockBytes = kBlockBytes - kBlockBytes % format_.blockAlign;
    const Clock::time_point opened = Clock::now();
    auto device = devices_.openInput(format_, blockBytes / 4, &lastError_);
    if (!device) return -1;
    sink_ = sink;
    block_.assign(blockBytes, 0);
    fill_ = 0;
    position_ = 0;
    failedWrites_ = 0;
    if (!startThread(std::move(device), format_, origin, blockBytes, opened)) {
        lastError_ = "cannot create the sound thread";
        return -1;
    }
    return 0;
}

int CWaveInCapture::stop(Clock::time_point at) {
    stopThread(true, at);
    return 0;
}

bool CWaveInCapture::consume(const uint8_t* data, size_t bytes) {
    while (bytes > 0) {
        size_t n = std::min(bytes, block_.size() - fill_);
        std::memcpy(block_.data() + fill_, data, n);
        fill_ += n;
        data += n;
        bytes -= n;
        if (fill_ == block_.size()) {
            bool ok = deliver(block_.data(), fill_);
            fill_ = 0;
            if (!ok) return false;
        }
    }
    return true;
}

void CWaveInCapture::finish() {
    if (fill_ > 0) deliver(block_.data(), fill_);
    fill_ = 0;
    // Nothing more comes: the system-sound thread need not wait for the microphone.
    if (CAudioRing* ring = owner_ ? owner_->mixingRing() : nullptr) ring->close();
}

bool CWaveInCapture::deliver(const uint8_t* data, size_t bytes) {
    int frames = int(bytes / format_.blockAlign);
    CAudioRing* ring = owner_ ? owner_->mixingRing() : nullptr;
    if (owner_ && g_bVistaOrLater && owner_->soundOption() == 2 && ring) {
        // The system-sound thread mixes it in at this position and writes.
        ring->write(position_, data, int(bytes));
        position_ += frames;
        return true;
    }
    if (sink_ && sink_->write(position_, frames, data, bytes)) {
        position_ += frames;
        return true;
    }
    // A block that could not be written is lost; once as many blocks have failed as circulate,
    // the source gives up.
    return ++failedWrites_ < kBlockCount;
}

}  // namespace torvane
