#pragma once
// Moves values between a dialog's controls and its fields, in one direction per pass, with the
// framework's range checks. A failed check shows the framework's prompt, puts the focus on the
// offending control and marks the pass failed; the rest of the pass is skipped and the dialog
// stays open.

#include <QList>
#include <QString>

class QAbstractButton;
class QComboBox;
class QLineEdit;
class QWidget;

namespace torvane::ui {

// The prompts, as the framework words them.
QString integerPrompt();                         // "Please enter an integer."
QString integerRangePrompt(int minimum, int maximum);   // "Please enter an integer between 3 and 30."

class CDataExchange {
public:
    // saveAndValidate: controls -> fields (with checks); otherwise fields -> controls.
    CDataExchange(QWidget* dialog, bool saveAndValidate);

    bool saveAndValidate() const { return save_; }
    bool failed() const { return failed_; }

    // A decimal integer in an edit box; on reading, text that is not one fails with integerPrompt().
    void text(QLineEdit* edit, int& value);
    void text(QLineEdit* edit, QString& value);
    // A check box: 0 or 1.
    void check(QAbstractButton* box, int& value);
    // The selected index of a list. Writing an index outside the list selects nothing; reading a
    // list with nothing selected leaves the field as it was.
    void cbIndex(QComboBox* list, int& index);
    // The index of the checked button of a radio group; none checked reads as -1.
    void radio(const QList<QAbstractButton*>& group, int& index);

    // Range check of the value just read from the last control; only when saving.
    void minMaxInt(int value, int minimum, int maximum);

private:
    bool active() const { return !failed_; }
    void fail(QWidget* control, const QString& prompt);

    QWidget* dialog_;
    bool save_;
    bool failed_ = false;
    QWidget* last_ = nullptr;
};

}  // namespace torvane::ui
