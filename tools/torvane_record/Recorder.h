#pragma once
// Drives one recording of a set-up session from the event loop: the planned pauses, the stop
// after the requested recorded time, progress once a second, and the stop request the session
// posts (WM_RECORDER_STOP).

#include <QObject>
#include <QTimer>
#include <optional>
#include <string>
#include <vector>

#include "engine/CaptureSession.h"
#include "tools/torvane_record/RecordOptions.h"

namespace torvane::record {

// Exit statuses besides 0 (recorded as asked), 1 (could not record) and 2 (bad usage).
constexpr int kExitStoppedByFault = 3;   // the disk filled, a write failed or the screen was lost
constexpr int kExitLostData = 4;         // recorded to the end, but part of it is missing (sound)

class Recorder : public QObject {
    Q_OBJECT
public:
    Recorder(CCaptureSession& session, std::vector<PauseSpec> pauses, std::optional<uint32_t> stopAfterMs,
             int32_t sourceKind, QObject* parent = nullptr);

    // Starts the session with this object as its notify target. False (reason printed) on failure.
    bool start(const std::string& file);
    // Stops the recording, prints the summary and ends the event loop with `code`.
    void finish(int code);
    int exitCode() const { return exitCode_; }
    // Progress line: recorded time and frame counters, as printed once a second.
    static std::string progressLine(uint32_t recordedMs, const CaptureStatistics& stats, bool paused);

protected:
    bool event(QEvent* e) override;

private:
    void poll();
    void resumeNow();
    void printProgress();

    CCaptureSession& session_;
    std::vector<PauseSpec> pauses_;
    std::optional<uint32_t> stopAfterMs_;
    int32_t sourceKind_;
    size_t nextPause_ = 0;
    bool finished_ = false;
    int exitCode_ = 0;
    std::string file_;
    QTimer poll_;
    QTimer progress_;
    QTimer resume_;
};

}  // namespace torvane::record
