#include "app/TorvaneRecorderApp.h"

#include "app/KeyUpForwarder.h"
#include "app/TorvaneRecorderDlg.h"

namespace torvane {

CTorvaneRecorderApp::CTorvaneRecorderApp(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName(QStringLiteral("TORVANE COMMUNICATIONS"));
    setApplicationName(QStringLiteral("TorvaneRecorder"));
    setApplicationVersion(QStringLiteral("1.2"));
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
        CTorvaneRecorderDlg recorder;
        setMainRecorder(&recorder);
        result = recorder.exec();
        setMainRecorder(nullptr);
    }   // destroying the window stops a recording that still runs
    (void)result;
    return 0;
}

}  // namespace torvane
