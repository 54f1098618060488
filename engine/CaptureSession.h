#pragma once
// The one object through which a recording is set up, started, paused, resumed and stopped.
// All operations run on the UI thread; failures are returned and described by lastError().

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>
#include <string>

#include "settings/CaptureSettings.h"

namespace torvane {

namespace media {
class IMediaWriter;
class ITrack;
}  // namespace media
class CScreenCaptureWorker;
class CSoundCapture;

enum RecorderState : int { kStateIdle = 0, kStateReady = 1, kStateRecording = 2, kStatePaused = 3 };

// Counters of a recording, for progress displays and benchmarks.
struct CaptureStatistics {
    uint64_t framesWritten = 0;    // encoded pictures written to the file
    uint64_t framesSkipped = 0;    // late: positions left empty because a turn came too late
    uint64_t framesUnchanged = 0;  // positions left empty because nothing on the picture had changed
    uint64_t framesRepeated = 0;   // of the frames written, the picture before again (still stretches)
    uint64_t framesDuplicate = 0;  // turns whose position was already written (not encoded)
    uint64_t framesFaster = 0;     // of the frames written, encoded at a faster analysis to keep pace
    uint64_t fasterSteps = 0;      // how often the encoder went faster to keep pace
    // CPU time spent in each stage of the capture loop, microseconds.
    uint64_t changesUs = 0, grabUs = 0, cursorUs = 0, watermarkUs = 0, scaleUs = 0, convertUs = 0, encodeUs = 0, writeUs = 0;
};

class CCaptureSession {
public:
    CCaptureSession();
    ~CCaptureSession();   // runs stop() first when recording or paused
    CCaptureSession(const CCaptureSession&) = delete;
    CCaptureSession& operator=(const CCaptureSession&) = delete;

    // Allowed in Idle and Ready only ("Please stop capture."); success moves Idle to Ready.
    bool setScreenSettings(const ScreenSettings& s);
    bool setSoundEnabled(int enabled);
    bool setSoundOption(unsigned int option);
    bool setCursorSettings(const CursorSettings& s);
    bool setWebcamSettings(const WebcamSettings& s);
    bool setPipSettings(const PipSettings& s);
    bool setWatermarkSettings(const WatermarkSettings& s);

    // `notify` receives WM_RECORDER_STOP when a recorded live-session window disappears.
    // The desktop's screen-sharing dialog may run the event loop inside it: until it returns, a
    // second start() and every setting are refused.
    bool start(const std::string& fileName, QObject* notify);
    // Whether start() is running (waiting for the desktop's answer, for one).
    bool starting() const { return starting_; }
    bool pause();
    bool resume();
    bool stop();   // always succeeds
    void togglePip();

    uint32_t recordedMilliseconds() const;
    int state() const { return state_; }
    const std::string& lastError() const { return lastError_; }

    // After stop(): what the recording lost (failed writes, a sound source that died), empty when
    // nothing was lost. Begins with stopReason() when there is one.
    const std::string& lossReport() const { return lossReport_; }
    // After stop(): whether something of the recording is missing (the loss report may also name
    // late positions alone, which lose nothing).
    bool lostData() const { return lostData_; }
    // After stop(): how far the sound sources' clocks ran from nominal, where they were resampled
    // for it (also the loss report's last line); empty when none was off.
    const std::string& soundClockReport() const { return soundClocks_; }
    // After stop(): how the pointer fell short of the cursor settings on this desktop (the
    // highlight where the desktop does not say where the pointer is; also a loss report line,
    // not a loss); empty when it did not.
    const std::string& pointerNotice() const { return pointerNotice_; }
    // After stop(): why the recording ended by itself (the disk is full, a write failed, the screen
    // could not be read) and how much the file holds; empty when it was stopped as asked. A fault
    // posts WM_RECORDER_STOP with kStopForFault to the notify target, which then calls stop().
    const std::string& stopReason() const { return stopReason_; }
    CaptureStatistics statistics() const;

    // The screen settings held for the next recording; the recorder writes the live-session
    // geometry into them before start().
    ScreenSettings& screenSettings() { return screen_; }
    const ScreenSettings& screenSettings() const { return screen_; }
    const PipSettings& pipSettings() const { return pip_; }
    CScreenCaptureWorker* worker() const { return worker_.get(); }
    const std::string& fileName() const { return fileName_; }

private:
    bool settable();
    bool startNow(const std::string& fileName, QObject* notify);
    void releaseAll();
    void collectLosses(const std::string& soundLoss, bool fileCompleted);

    std::string fileName_;
    int soundEnabled_ = 1;
    int soundOption_ = 0;
    int state_ = kStateIdle;
    bool starting_ = false;
    std::string lastError_;
    std::shared_ptr<media::IMediaWriter> file_;   // shared with the capture thread
    media::ITrack* videoStream_ = nullptr;
    media::ITrack* audioStream_ = nullptr;
    std::unique_ptr<CScreenCaptureWorker> worker_;
    std::unique_ptr<CSoundCapture> sound_;
    ScreenSettings screen_;
    WatermarkSettings watermark_;
    CursorSettings cursor_;
    PipSettings pip_;
    WebcamSettings webcam_;
    QPointer<QObject> notify_;
    std::string lossReport_;
    std::string soundClocks_;
    std::string pointerNotice_;
    bool lostData_ = false;
    std::string stopReason_;
    CaptureStatistics lastStatistics_;
};

}  // namespace torvane
