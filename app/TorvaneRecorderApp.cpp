#include "app/TorvaneRecorderApp.h"

#include <QTimer>

#include "app/KeyUpForwarder.h"
#include "app/RecordingRecovery.h"
#include "app/TorvaneRecorderDlg.h"
#include "audio/SoundPlatform.h"
#include "platform/core/StopSignals.h"
#include "platform/core/Version.h"

namespace torvane {

CTorvaneRecorderApp::CTorvaneRecorderApp(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName(QStringLiteral("TORVANE COMMUNICATIONS"));
    setApplicationName(QStringLiteral("TorvaneRecorder"));
    setApplicationVersion(QStringLiteral(TORVANE_VERSION));
    // The desktop entry, for the window's icon and grouping on desktops that look it up by name.
    setDesktopFileName(QStringLiteral("torvane-recorder"));
    // The recorder hides in the notification area and its dialogs come and go: only the end of the
    // recorder window ends the program.
    setQuitOnLastWindowClosed(false);
}

bool CTorvaneRecorderApp::notify(QObject* receiver, QEvent* event) {
    forwardKeyUp(main_, event);   // the key itself is still delivered
    return QApplication::notify(receiver, event);
}

int CTorvaneRecorderApp::run() {
    int result = 0;
    {
        detectSoundPlatform();
        // A signal (logout, kill, the terminal closed) ends the program like its close, without
        // questions: destroying the window below finishes the file of a recording that runs.
        StopSignals stopSignals;
        std::string signalError;
        if (stopSignals.install(signalError))
            // exit(), not quit(): quit() first closes every window, and the close asks for feedback.
            connect(&stopSignals, &StopSignals::stopRequested, this, [] { QCoreApplication::exit(0); });
        CTorvaneRecorderDlg recorder;
        setMainRecorder(&recorder);
        // Not the dialog's own modal loop: hiding a dialog ends that loop, and the recorder hides in
        // the notification area while it records. Only its close ends the program, after the feedback question.
        connect(&recorder, &CTorvaneRecorderDlg::closed, this, &QCoreApplication::quit);
        recorder.show();
        QTimer::singleShot(0, &recorder, [&recorder] { recoverUnfinishedRecording(&recorder); });
        result = exec();
        setMainRecorder(nullptr);
    }   // destroying the window stops a recording that still runs
    (void)result;
    return 0;
}

}  // namespace torvane
