#pragma once
// Shortcuts typed while one of the program's own windows has the focus: every key release the
// program receives is passed on to the recorder window as WM_RECORDER_HOTKEY, the same path the
// global shortcuts take. The key event itself is still delivered as usual.

#include <QEvent>
#include <QObject>

namespace torvane {

// Posts the message for a key release (not an auto-repeated one); false for other events and for
// keys without a virtual-key code of their own.
bool forwardKeyUp(QObject* mainWindow, const QEvent* event);

}  // namespace torvane
