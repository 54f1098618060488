#pragma once
// The framework-style message box: text, caption and a button/icon type as the dialogs use them,
// answering with the id of the chosen button. Tests install a hook so that no box ever blocks.

#include <QString>
#include <functional>

class QWidget;

namespace torvane::ui {

// Button sets and icons, combinable as in the dialogs' calls (MB_YESNO | MB_ICONQUESTION).
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_OKCANCEL = 0x01;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;

// Results.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// An empty caption means the application's name.
using MessageBoxHook = std::function<int(QWidget* owner, const QString& text, const QString& caption, unsigned type)>;

// Shows the box modally (or asks the hook) and returns the chosen button's id.
int messageBox(QWidget* owner, const QString& text, const QString& caption = {}, unsigned type = MB_OK);

// Replaces the real box for every later call; an empty hook restores the real box. Returns the
// previous hook.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

}  // namespace torvane::ui
