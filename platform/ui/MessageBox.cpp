#include "platform/ui/MessageBox.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <utility>

namespace torvane::ui {

namespace {

MessageBoxHook& currentHook() {
    static MessageBoxHook hook;
    return hook;
}

QMessageBox::Icon iconOf(unsigned type) {
    switch (type & 0xF0) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

}  // namespace

int messageBox(QWidget* owner, const QString& text, const QString& caption, unsigned type) {
    const QString title = caption.isEmpty() ? QCoreApplication::applicationName() : caption;
    if (const MessageBoxHook& hook = currentHook()) return hook(owner, text, title, type);

    QMessageBox box(iconOf(type), title, text, QMessageBox::NoButton, owner);
    switch (type & 0x0F) {
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    box.setObjectName(QStringLiteral("MessageBox"));
    switch (box.exec()) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Ok: return IDOK;
    default: return (type & 0x0F) == MB_YESNO ? IDNO : IDCANCEL;
    }
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) {
    return std::exchange(currentHook(), std::move(hook));
}

}  // namespace torvane::ui
