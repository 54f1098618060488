#pragma once
// System sound: the output's monitor when a sound server runs, else the input device, on which
// the input mixer has selected the card's playback-mix line.

#include <memory>

#include "audio/LoopbackCapture.h"
#include "audio/SoundDevices.h"
#include "audio/WaveFormat.h"
#include "audio/WaveInCapture.h"

namespace torvane {

class CSoundCapture;
class IAudioSink;

class CSystemSoundSource {
public:
    CSystemSoundSource(CSoundCapture* owner, WaveFormat& ownerFormat, ISoundDevices& devices);
    int start(IAudioSink* sink, CCaptureThread::Clock::time_point origin);
    void setPaused(bool paused, CCaptureThread::Clock::time_point at);
    // Stops the capture it holds; 0 when stopped.
    int stop(CCaptureThread::Clock::time_point at);

    CLoopbackCapture* loopback() const { return loopback_.get(); }
    CWaveInCapture* waveIn() const { return waveIn_.get(); }
    // The capture that runs: the loopback, or the wave-in source.
    CCaptureThread* active() const;

private:
    std::unique_ptr<CWaveInCapture> waveIn_;
    std::unique_ptr<CLoopbackCapture> loopback_;
};

}  // namespace torvane
