#include "settings/DlgColorButton.h"

#include <QColorDialog>
#include <QPainter>
#include <QPixmap>

namespace torvane {

CColorButton::CColorButton(QWidget* parent) : QPushButton(parent) {
    chooser = [](const QColor& current, QWidget* owner) { return QColorDialog::getColor(current, owner); };
    setIconSize(QSize(40, 12));
    connect(this, &QPushButton::clicked, this, [this] {
        if (!chooser) return;
        const QColor chosen = chooser(color_, this);
        if (chosen.isValid()) setColor(chosen);
    });
    updateSwatch();
}

void CColorButton::setColor(const QColor& color) {
    color_ = color;
    updateSwatch();
}

void CColorButton::updateSwatch() {
    QPixmap swatch(iconSize());
    swatch.fill(color_);
    QPainter painter(&swatch);
    painter.setPen(Qt::gray);
    painter.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    painter.end();
    setIcon(QIcon(swatch));
}

}  // namespace torvane
