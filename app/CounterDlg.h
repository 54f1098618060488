#pragma once
// The black countdown window shown over the work area before a recording starts: 5, 4, 3, 2, 1,
// then it ends with Accepted; Esc ends it with Rejected.

#include <QBasicTimer>
#include <QDialog>
#include <QPointer>
#include <QRect>

#include "app/Beeper.h"

namespace torvane {

class CCounterDlg : public QDialog {
    Q_OBJECT
public:
    // `mainWindow` is minimised while the count runs (it may be null).
    explicit CCounterDlg(QWidget* mainWindow);
    ~CCounterDlg() override;

    int count = 5;   // seconds still to show; set before exec()

    // Where the texts go in a client area of the given height: the tops of the two lines and of the
    // number (each line is centred horizontally on its own width).
    struct TextTops {
        int line1;
        int line2;
        int number;
    };
    static TextTops textTops(int clientHeight);
    // The window covers the screen from its top-left corner to the work area's bottom-right corner.
    static QRect windowRect(const QRect& workArea);

    int beepsStarted() const { return beeper_.started(); }
    bool counting() const { return timer_.isActive(); }

protected:
    void showEvent(QShowEvent* e) override;
    void timerEvent(QTimerEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    QPointer<QWidget> mainWindow_;
    QBasicTimer timer_;
    bool initialised_ = false;
    CBeeper beeper_;
};

}  // namespace torvane
