#pragma once
// A message from the program in the desktop's notification pop-ups (org.freedesktop.Notifications on
// the session bus), for news the user should see while the recorder waits in the notification area.

#include <QString>

namespace torvane {

// Tells that `file` was saved (and that it is incomplete when `incomplete`). Sent without waiting
// for an answer; false when there is no session bus to send it on. Without a notification service
// the message is dropped by the bus, which is the intended outcome.
bool notifyRecordingSaved(const QString& file, bool incomplete);

}  // namespace torvane
