#include "app/KeyUpForwarder.h"

#include <QKeyEvent>

#include "platform/core/WindowMessage.h"
#include "platform/hook/HotkeyKeys.h"

namespace torvane {

bool forwardKeyUp(QObject* mainWindow, const QEvent* event) {
    if (!mainWindow || !event || event->type() != QEvent::KeyRelease) return false;
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->isAutoRepeat()) return false;
    // Letters and digits have the same codes as virtual keys.
    const int k = key->key();
    if (!((k >= Qt::Key_0 && k <= Qt::Key_9) || (k >= Qt::Key_A && k <= Qt::Key_Z))) return false;
    intptr_t state = kHotkeyStateKnown;
    if (key->modifiers() & Qt::ControlModifier) state |= kHotkeyControl;
    if (key->modifiers() & Qt::AltModifier) state |= kHotkeyAlt;
    if (key->modifiers() & Qt::ShiftModifier) state |= kHotkeyShift;
    postWindowMessage(mainWindow, WM_RECORDER_HOTKEY, uintptr_t(k), state);
    return true;
}

}  // namespace torvane
