#pragma once
// The application object: prepares the process, runs the recorder window modally and ends when it
// closes. It passes every key release to the recorder window so that the shortcuts also work while
// the program's own windows have the focus.

#include <QApplication>
#include <QPointer>

namespace torvane {

class CTorvaneRecorderDlg;

class CTorvaneRecorderApp : public QApplication {
    Q_OBJECT
public:
    CTorvaneRecorderApp(int& argc, char** argv);

    // Runs the recorder window until it closes; the process's exit code.
    int run();
    bool notify(QObject* receiver, QEvent* event) override;

    void setMainRecorder(QObject* window) { main_ = window; }

private:
    QPointer<QObject> main_;
};

}  // namespace torvane
