#pragma once
// An up-down (spin) control bound to a buddy edit box: the arrows, and the Up and Down keys in
// the buddy, step the buddy's integer within a range. The buddy may be read-only, so the arrows
// are the only way to change it.

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace torvane {

class CUpDownCtrl : public QWidget {
    Q_OBJECT
public:
    CUpDownCtrl(QLineEdit* buddy, QWidget* parent);

    void setRange(int lower, int upper);
    int lower() const { return lower_; }
    int upper() const { return upper_; }

    // One step up (+1) or down (-1) from the buddy's current integer, kept in range. Text that is
    // not an integer counts as the lower bound.
    void step(int delta);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* buddy_;
    QToolButton* up_;
    QToolButton* down_;
    int lower_ = 0;
    int upper_ = 100;
};

}  // namespace torvane
