#pragma once
// The webcam's window: paints the newest picture of its device. Over a screen recording it is a
// frameless window kept above the others (the screen grab records it); in webcam-only mode it is
// an ordinary captioned window the user watches, dragged by any press, and Esc or closing it asks
// the recorder to stop.

#include <QImage>
#include <QRasterWindow>
#include <QTimer>
#include <memory>

#include "platform/camera/CameraCapture.h"

namespace torvane {

class CVideoInputDevice;

class CPreviewDlg : public QRasterWindow {
public:
    enum : int { IDD = 149, IDC_VIDEO = 1041 };

    // `client` is the picture area in screen coordinates. `notify` receives WM_RECORDER_STOP.
    CPreviewDlg(std::shared_ptr<CVideoInputDevice> device, bool overlay, const QRect& client, QObject* notify);
    ~CPreviewDlg() override;

    void showOnTop();
    bool overlay() const { return overlay_; }
    // Pictures painted so far (for tests).
    uint64_t picturesShown() const { return shown_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    bool event(QEvent* e) override;

private:
    void poll();
    void askStop();

    std::shared_ptr<CVideoInputDevice> device_;
    bool overlay_;
    QObject* notify_;
    QTimer timer_;
    camera::CameraPicture picture_;
    QImage image_;
    uint64_t shown_ = 0;
    bool dragging_ = false;
    QPoint dragOffset_;
};

}  // namespace torvane
