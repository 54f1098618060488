#pragma once
// SIGINT, SIGTERM and SIGHUP (the terminal or the session went away) turned into a Qt signal on the
// event loop's thread (self-pipe), so a recording is stopped by the normal code path and its file
// is completed.

#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <string>

namespace torvane {

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;
    // One instance per process. False with `error` when the handlers cannot be installed.
    bool install(std::string& error);

signals:
    void stopRequested(int signalNumber);

private:
    void drain();
    std::unique_ptr<QSocketNotifier> notifier_;
    bool installed_ = false;
};

}  // namespace torvane
