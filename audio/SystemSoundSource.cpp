#include "audio/SystemSoundSource.h"

#include "audio/SoundPlatform.h"

namespace torvane {

CSystemSoundSource::CSystemSoundSource(CSoundCapture* owner, WaveFormat& ownerFormat, ISoundDevices& devices) {
    if (g_bVistaOrLater)
        loopback_ = std::make_unique<CLoopbackCapture>(owner, ownerFormat, devices);
    else
        waveIn_ = std::make_unique<CWaveInCapture>(ownerFormat, owner, false, devices);
}

int CSystemSoundSource::start(IAudioSink* sink, CCaptureThread::Clock::time_point origin) {
    if (loopback_) return loopback_->start(sink, origin);
    if (waveIn_) return waveIn_->start(sink, origin);
    return -1;
}

void CSystemSoundSource::setPaused(bool paused, CCaptureThread::Clock::time_point at) {
    if (loopback_) loopback_->setPaused(paused, at);
    else if (waveIn_) waveIn_->setPaused(paused, at);
}

int CSystemSoundSource::stop(CCaptureThread::Clock::time_point at) {
    if (loopback_) return loopback_->stop(at);
    if (waveIn_) return waveIn_->stop(at);
    return 0;
}

CCaptureThread* CSystemSoundSource::active() const {
    if (loopback_) return loopback_.get();
    return waveIn_.get();
}

}  // namespace torvane
