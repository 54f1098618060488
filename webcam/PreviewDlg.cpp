#include "webcam/PreviewDlg.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "platform/core/WindowMessage.h"
#include "webcam/VideoInputDevice.h"

namespace torvane {

CPreviewDlg::CPreviewDlg(std::shared_ptr<CVideoInputDevice> device, bool overlay, const QRect& client, QObject* notify)
    : device_(std::move(device)), overlay_(overlay), notify_(notify) {
    setTitle("Preview");
    setObjectName("IDD_PREVIEW");
    if (overlay_)
        setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    else
        setFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setGeometry(client);
    // The camera delivers on its own thread; the window looks for a newer picture at its pace.
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
    timer_.start(30);
}

CPreviewDlg::~CPreviewDlg() = default;

void CPreviewDlg::showOnTop() {
    show();
    raise();
    if (!overlay_) requestActivate();
}

void CPreviewDlg::poll() {
    if (!device_ || !isVisible() || !device_->copyNewest(picture_)) return;
    if (picture_.width <= 0 || picture_.height <= 0) return;
    // Bottom-up BGR: mirrored vertically into a top-down image.
    image_ = QImage(picture_.bgr.data(), picture_.width, picture_.height, picture_.width * 3, QImage::Format_BGR888)
                 .mirrored(false, true);
    update();
}

void CPreviewDlg::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (image_.isNull()) {
        p.fillRect(QRect(QPoint(0, 0), size()), Qt::black);
        return;
    }
    p.drawImage(QRect(QPoint(0, 0), size()), image_);
    ++shown_;
}

void CPreviewDlg::askStop() { postWindowMessage(notify_, WM_RECORDER_STOP); }

void CPreviewDlg::keyPressEvent(QKeyEvent* e) {
    if (!overlay_ && e->key() == Qt::Key_Escape) {
        askStop();
        return;
    }
    QRasterWindow::keyPressEvent(e);
}

void CPreviewDlg::mousePressEvent(QMouseEvent* e) {
    if (overlay_ || e->button() != Qt::LeftButton) return;
    // Any press drags the window, as a press on its caption would.
    if (startSystemMove()) return;
    dragging_ = true;
    dragOffset_ = e->globalPosition().toPoint() - position();
}

void CPreviewDlg::mouseMoveEvent(QMouseEvent* e) {
    if (dragging_) setPosition(e->globalPosition().toPoint() - dragOffset_);
}

void CPreviewDlg::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

bool CPreviewDlg::event(QEvent* e) {
    if (e->type() == QEvent::Close) {
        // Closing asks the recorder to stop instead; the overlay cannot be closed at all.
        e->ignore();
        if (!overlay_) askStop();
        return true;
    }
    return QRasterWindow::event(e);
}

}  // namespace torvane
