#pragma once
// A recording the recorder did not finish (it was killed, the session ended, the power went):
// its file is remembered while recording and repaired at the next start.

#include <QString>
#include <string>

class QWidget;

namespace torvane {

void rememberRecordingInProgress(const std::string& path);
void forgetRecordingInProgress();
// Repairs the remembered file, if any, tells the user what was recovered (through
// ui::messageBox) and forgets it. Returns the message shown, empty when there was nothing to do.
QString recoverUnfinishedRecording(QWidget* owner);

}  // namespace torvane
