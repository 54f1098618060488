#pragma once
// The sound of one recording: decides from the sound option which sources exist, owns the
// recording format the audio stream is created with, and the mixing ring when microphone and
// system sound are mixed.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/WaveFormat.h"

namespace torvane {
namespace media {
class ITrack;
}

class CAudioRing;
class CWaveInCapture;
class CSystemSoundSource;
class IAudioSink;
class ISoundDevices;

class CSoundCapture {
public:
    // soundOption: 0 microphone, 1 system sound only, 2 both mixed. The recording format is final
    // when this returns.
    CSoundCapture(int soundEnabled, int soundOption);
    // The same with other sound devices than the machine's.
    CSoundCapture(int soundEnabled, int soundOption, ISoundDevices& devices);
    ~CSoundCapture();   // stops what still runs, releases everything
    CSoundCapture(const CSoundCapture&) = delete;
    CSoundCapture& operator=(const CSoundCapture&) = delete;

    const WaveFormat& recordingFormat() const { return format_; }
    // Set before start(). The stream is not owned.
    void setAudioStream(media::ITrack* stream);
    // Instead of an AVI stream: any sink (not owned).
    void setAudioSink(IAudioSink* sink) { sink_ = sink; }
    // The moment the recording's time line starts (the first video frame's time). Without it the
    // time line starts when start() is called. The audio track is filled with silence from this
    // moment to the first sound the devices deliver.
    void setTimeOrigin(std::chrono::steady_clock::time_point origin);

    int start();    // 0 on success, non-zero on failure
    int pause();    // always 0
    int resume();   // always 0
    // Stops the microphone, then the system-sound capture. What was recorded up to the call is
    // still written.
    void stopSources();
    // The same, effective from the given moment, e.g. the moment the video paused, resumed or
    // stopped, so that both tracks keep one time line. Sound captured after a pause or stop
    // moment is left out even if it arrives later; sound captured before it is still written.
    int pause(std::chrono::steady_clock::time_point at);
    int resume(std::chrono::steady_clock::time_point at);
    void stopSources(std::chrono::steady_clock::time_point at);
    // The same, the tracks ending after exactly `endFrames` frames (the video's end): sound goes
    // on past `at` or stops before it to meet it, silence makes up what a pause left short.
    void stopSources(std::chrono::steady_clock::time_point at, int64_t endFrames);
    // Before a stop whose end is not known yet (the video still finishing): the sound waits as it
    // would for a stop at `at`, however long the video takes, until stopSources() gives the end.
    void holdFrom(std::chrono::steady_clock::time_point at);
    // Empty when nothing was lost; else what was lost, for the user.
    std::string lossReport() const;
    // After stop: each source's clock against the recording clock where it was measurably off
    // ("The microphone's clock ran 5012 ppm fast; ..."), one sentence a source; empty otherwise.
    // Nothing is lost by it: the sound was resampled to stay in place.
    std::string clockReport() const;
    // Why start() failed (for diagnostics; the session shows its own message).
    std::string lastError() const;

    int soundOption() const { return option_; }
    CAudioRing* mixingRing() const { return ring_.get(); }
    CWaveInCapture* microphoneSource() const { return mic_.get(); }
    CSystemSoundSource* systemSoundSource() const { return system_.get(); }

private:
    void construct();

    int enabled_;
    int option_;
    ISoundDevices& devices_;
    WaveFormat format_{};
    media::ITrack* stream_ = nullptr;
    IAudioSink* sink_ = nullptr;
    std::unique_ptr<IAudioSink> trackSink_;
    std::string startError_;
    bool haveOrigin_ = false;
    std::chrono::steady_clock::time_point origin_{};
    std::unique_ptr<CSystemSoundSource> system_;
    std::unique_ptr<CWaveInCapture> mic_;
    std::unique_ptr<CAudioRing> ring_;
};

}  // namespace torvane
