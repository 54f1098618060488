#pragma once
// Shared helpers of the recorder's window tests: recorded message boxes with scripted answers,
// recorded shell opens, event-loop waits and a prepared recording.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QUrl>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "settings/CaptureSettings.h"

namespace torvane::test {

struct ShownBox {
    QString text;
    QString caption;
    unsigned type;
};

// Installs the message-box and shell-open hooks for the life of the object.
class UiRecorder {
public:
    UiRecorder();
    ~UiRecorder();
    std::vector<ShownBox> boxes;
    std::vector<QUrl> opened;
    std::deque<int> answers;   // answers to the next boxes; IDNO / IDOK when empty
    std::function<void(const ShownBox&)> onBox;   // runs while the box "is shown"
    bool shown(const QString& text) const;
};

// Runs the event loop until `done` or the time is up; the result of `done`.
bool waitFor(const std::function<bool()>& done, int timeoutMs);
void spin(int ms);

// Settings of a small area recording without sound, and the target file stored as CaptureFileName.
CaptureSettings areaRecording(const std::string& fileName, ScreenRect area = {100, 100, 740, 580});
void storeCaptureFileName(const std::string& fileName);
// A file name in the private test folder.
std::string testFile(const std::string& name);

}  // namespace torvane::test
