#include "platform/ui/DdxDataExchange.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QWidget>

#include "platform/ui/MessageBox.h"

namespace torvane::ui {

QString integerPrompt() { return QStringLiteral("Please enter an integer."); }

QString integerRangePrompt(int minimum, int maximum) {
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(minimum).arg(maximum);
}

CDataExchange::CDataExchange(QWidget* dialog, bool saveAndValidate) : dialog_(dialog), save_(saveAndValidate) {}

void CDataExchange::fail(QWidget* control, const QString& prompt) {
    failed_ = true;
    messageBox(dialog_, prompt, {}, MB_OK | MB_ICONWARNING);
    if (control) {
        control->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
    }
}

void CDataExchange::text(QLineEdit* edit, int& value) {
    if (!active() || !edit) return;
    last_ = edit;
    if (!save_) {
        edit->setText(QString::number(value));
        return;
    }
    bool ok = false;
    const int parsed = edit->text().trimmed().toInt(&ok, 10);
    if (!ok) {
        fail(edit, integerPrompt());
        return;
    }
    value = parsed;
}

void CDataExchange::text(QLineEdit* edit, QString& value) {
    if (!active() || !edit) return;
    last_ = edit;
    if (save_)
        value = edit->text();
    else
        edit->setText(value);
}

void CDataExchange::check(QAbstractButton* box, int& value) {
    if (!active() || !box) return;
    last_ = box;
    if (save_)
        value = box->isChecked() ? 1 : 0;
    else
        box->setChecked(value != 0);
}

void CDataExchange::cbIndex(QComboBox* list, int& index) {
    if (!active() || !list) return;
    last_ = list;
    if (save_) {
        if (list->currentIndex() >= 0) index = list->currentIndex();
    } else {
        list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
    }
}

void CDataExchange::radio(const QList<QAbstractButton*>& group, int& index) {
    if (!active() || group.isEmpty()) return;
    last_ = group.front();
    if (save_) {
        index = -1;
        for (int i = 0; i < group.size(); ++i)
            if (group[i]->isChecked()) index = i;
        return;
    }
    // Unchecking everything first also works for exclusive groups, where setChecked(false) on the
    // checked button alone is refused.
    for (QAbstractButton* b : group) {
        const bool exclusive = b->autoExclusive();
        b->setAutoExclusive(false);
        b->setChecked(false);
        b->setAutoExclusive(exclusive);
    }
    if (index >= 0 && index < group.size()) group[index]->setChecked(true);
}

void CDataExchange::minMaxInt(int value, int minimum, int maximum) {
    if (!active() || !save_) return;
    if (value < minimum || value > maximum) fail(last_, integerRangePrompt(minimum, maximum));
}

}  // namespace torvane::ui
