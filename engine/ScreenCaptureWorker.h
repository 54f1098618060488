#pragma once
// The per-recording worker: owns the capture thread of each run, the encoder, the screen source,
// the webcam source and the watermark. Every operation runs on the UI thread.

#include <QObject>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/CaptureRun.h"
#include "engine/WorkerSettings.h"

namespace torvane {

class CVideoInputDevice;
class CPreviewDlg;

class CScreenCaptureWorker {
public:
    // Copies the settings and opens the encoder at once; hasEncoder() tells whether that worked.
    CScreenCaptureWorker(const WorkerSettings& settings, QObject* notify);
    ~CScreenCaptureWorker();
    CScreenCaptureWorker(const CScreenCaptureWorker&) = delete;
    CScreenCaptureWorker& operator=(const CScreenCaptureWorker&) = delete;

    bool hasEncoder() const { return encoder_ != nullptr; }
    void setVideoStream(std::shared_ptr<media::IMediaWriter> file, media::ITrack* stream);

    // Start the first run. False (with the reason in `error`) when it cannot; everything is
    // stopped again then.
    bool start(std::string* error);
    bool pause();
    bool resume(std::string* error);
    // Halts the thread and releases the encoder, the webcam source and the watermark's use.
    void fullStop();
    void togglePip(bool on);
    // After fullStop(): what happened to the webcam (could not be opened for the overlay, lost
    // during the recording), empty when nothing.
    const std::string& webcamLoss() const { return webcamLoss_; }
    // After start(): how the pointer falls short of the settings on this desktop, empty when it does not.
    const std::string& pointerNotice() const { return pointerNotice_; }
    CPreviewDlg* previewWindow() const { return preview_.get(); }
    // The open webcam, null when none (for tests and statistics).
    const std::shared_ptr<CVideoInputDevice>& webcamDevice() const { return camera_; }
    // How long a webcam-only Start waits for the camera's first picture.
    static constexpr int kFirstPictureTimeoutMs = 3000;

    bool paused() const { return paused_; }
    bool threadRunning() const { return thread_.joinable(); }
    uint32_t segmentStart() const { return segmentStart_; }
    std::chrono::steady_clock::time_point segmentStartTime() const { return segmentStartTime_; }
    uint32_t recordedBefore() const { return recordedBefore_; }
    int frameRate() const { return frameRate_; }
    const WorkerSettings& settings() const { return settings_; }
    const CaptureCounters& counters() const { return *counters_; }

    // How long halting waits for the thread before leaving it to end by itself.
    static constexpr int kHaltTimeoutMs = 2000;

private:
    bool startThread(std::string* error);
    void haltThread();
    bool openWebcam(int frameRate, std::string* error);
    void createPreview();
    void showPreview();
    void hidePreview();
    void noteWebcamLoss();

    WorkerSettings settings_;
    QObject* notify_;
    int frameRate_;
    int outWidth_, outHeight_;
    bool paused_ = false;
    uint32_t segmentStart_ = 0;
    std::chrono::steady_clock::time_point segmentStartTime_;   // the same moment as segmentStart_
    uint32_t recordedBefore_ = 0;
    uint32_t segmentBase_ = 0;   // recordedBefore_ when the current run began
    std::string encoderError_;
    std::string webcamLoss_;
    std::string pointerNotice_;

    std::shared_ptr<CH264Encoder> encoder_;
    std::shared_ptr<media::IMediaWriter> file_;
    media::ITrack* stream_ = nullptr;
    std::shared_ptr<IScreenSource> screen_;
    std::shared_ptr<CBaseCapture> webcam_;
    std::shared_ptr<CVideoInputDevice> camera_;   // the same object as webcam_
    std::unique_ptr<CPreviewDlg> preview_;
    std::shared_ptr<CWatermark> watermark_;
    std::shared_ptr<CaptureCounters> counters_;

    std::shared_ptr<int> alive_ = std::make_shared<int>(0);   // expires when this object goes
    bool opening_ = false;            // a camera start is under way (the window's events run meanwhile)
    bool stopWhileOpening_ = false;   // fullStop() came during it

    std::shared_ptr<CaptureRun> run_;
    std::thread thread_;
    std::future<void> threadDone_;
};

}  // namespace torvane
