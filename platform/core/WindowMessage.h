#pragma once
// Window messages between threads: a Qt event carrying (message, wParam, lParam), posted
// thread-safely to the target object's thread.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <cstdint>

namespace torvane {

constexpr uint32_t WM_USER = 0x0400;
constexpr uint32_t WM_TRAY_NOTIFY = WM_USER + 1;
constexpr uint32_t WM_RECORDER_STOP = WM_USER + 100;   // 0x0464
constexpr uint32_t WM_RECORDER_HOTKEY = 0x0C00;
// wParam of a WM_RECORDER_STOP that a fault sent (the file or the screen failed); 0 otherwise.
constexpr uintptr_t kStopForFault = 1;

class WindowMessageEvent : public QEvent {
public:
    static QEvent::Type eventType() {
        static const int type = QEvent::registerEventType();
        return static_cast<QEvent::Type>(type);
    }
    WindowMessageEvent(uint32_t message, uintptr_t wParam, intptr_t lParam)
        : QEvent(eventType()), message(message), wParam(wParam), lParam(lParam) {}
    const uint32_t message;
    const uintptr_t wParam;
    const intptr_t lParam;
};

// Safe from any thread while `target` lives.
inline void postWindowMessage(QObject* target, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) {
    if (target) QCoreApplication::postEvent(target, new WindowMessageEvent(message, wParam, lParam));
}

}  // namespace torvane
