#include "settings/DlgUpDownCtrl.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace torvane {

CUpDownCtrl::CUpDownCtrl(QLineEdit* buddy, QWidget* parent)
    : QWidget(parent), buddy_(buddy), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(16, 11);
    }
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(up_);
    column->addWidget(down_);
    connect(up_, &QToolButton::clicked, this, [this] { step(+1); });
    connect(down_, &QToolButton::clicked, this, [this] { step(-1); });
    if (buddy_) buddy_->installEventFilter(this);
}

void CUpDownCtrl::setRange(int lower, int upper) {
    lower_ = std::min(lower, upper);
    upper_ = std::max(lower, upper);
}

void CUpDownCtrl::step(int delta) {
    if (!buddy_ || !isEnabled()) return;
    bool ok = false;
    int value = buddy_->text().trimmed().toInt(&ok);
    if (!ok) value = lower_;
    // Stepping from outside the range lands on the nearer bound.
    value = std::clamp(static_cast<long long>(value) + delta, static_cast<long long>(lower_),
                       static_cast<long long>(upper_));
    buddy_->setText(QString::number(value));
}

bool CUpDownCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == buddy_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            step(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace torvane
