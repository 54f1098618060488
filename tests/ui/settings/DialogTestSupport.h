#pragma once
// Helpers for driving the settings dialogs offscreen: message boxes answered by a queue and
// recorded, actions run on the next modal dialog that appears, controls found by id.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/ui/MessageBox.h"
#include "settings/DlgControls.h"

namespace dialogtest {

struct ShownBox {
    QString text;
    unsigned type;
};

// Every message box goes here instead of the screen.
class MessageBoxes {
public:
    MessageBoxes() {
        previous_ = torvane::ui::setMessageBoxHook([this](QWidget*, const QString& text, const QString&, unsigned type) {
            shown.push_back({text, type});
            if (!answers.empty()) {
                const int a = answers.front();
                answers.pop_front();
                return a;
            }
            return (type & 0x0F) == torvane::ui::MB_YESNO ? torvane::ui::IDYES : torvane::ui::IDOK;
        });
    }
    ~MessageBoxes() { torvane::ui::setMessageBoxHook(previous_); }
    std::vector<QString> texts() const {
        std::vector<QString> t;
        for (const auto& b : shown) t.push_back(b.text);
        return t;
    }
    std::vector<ShownBox> shown;
    std::deque<int> answers;

private:
    torvane::ui::MessageBoxHook previous_;
};

// Runs `action` once on the next visible modal dialog other than `above`. Polls, so it also works
// inside nested modal loops.
inline void whenModal(std::function<void(QDialog*)> action, QWidget* above = nullptr) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action, above] {
        QWidget* w = QApplication::activeModalWidget();
        auto* dlg = qobject_cast<QDialog*>(w);
        if (!dlg || dlg == above || !dlg->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        action(dlg);
    });
    timer->start();
}

// Runs `action` once `target` is the visible active modal dialog.
inline void whenActive(QDialog* target, std::function<void()> action) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, action, target] {
        if (QApplication::activeModalWidget() != target || !target->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

template <class W = QWidget>
W* control(QWidget* dialog, int id) {
    auto* w = qobject_cast<W*>(torvane::findControl(dialog, id));
    EXPECT_NE(w, nullptr) << "control " << id;
    return w;
}

inline void click(QWidget* dialog, int id) {
    if (auto* b = control<QAbstractButton>(dialog, id)) b->click();
}

inline void setText(QWidget* dialog, int id, const QString& text) {
    if (auto* e = control<QLineEdit>(dialog, id)) e->setText(text);
}

inline QString text(QWidget* dialog, int id) {
    auto* e = control<QLineEdit>(dialog, id);
    return e ? e->text() : QString();
}

inline QString comboText(QWidget* dialog, int id) {
    auto* c = control<QComboBox>(dialog, id);
    return c ? c->currentText() : QString();
}

// Selects entry `index` as the user would (sends the "activated" signal too).
inline void choose(QWidget* dialog, int id, int index) {
    if (auto* c = control<QComboBox>(dialog, id)) {
        c->setCurrentIndex(index);
        emit c->activated(index);
    }
}

inline bool enabled(QWidget* dialog, int id) {
    QWidget* w = torvane::findControl(dialog, id);
    return w && w->isEnabled();
}

inline bool checked(QWidget* dialog, int id) {
    auto* b = control<QAbstractButton>(dialog, id);
    return b && b->isChecked();
}

inline void sendMouse(QWidget* w, QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(p), QPointF(w->mapToGlobal(p)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

inline void drag(QWidget* w, QPoint from, QPoint to) {
    sendMouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    sendMouse(w, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

}  // namespace dialogtest
