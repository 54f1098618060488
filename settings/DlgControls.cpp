#include "settings/DlgControls.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVariant>

namespace torvane {

void layOutAboveButtonRow(QDialog* dialog, QWidget* content, bool withCancel) {
    auto* ok = withId(new QPushButton(QStringLiteral("OK")), "IDOK", IDOK);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    if (withCancel) {
        auto* cancel = withId(new QPushButton(QStringLiteral("Cancel")), "IDCANCEL", IDCANCEL);
        buttons->addWidget(cancel);
        QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    }
    auto* top = new QVBoxLayout(dialog);
    top->addWidget(content);
    top->addLayout(buttons);
}

QWidget* findControl(QWidget* dialog, int id) {
    if (!dialog) return nullptr;
    const auto children = dialog->findChildren<QWidget*>();
    for (QWidget* w : children) {
        if (w->window() != dialog) continue;   // a control of another (child) dialog
        const QVariant v = w->property("controlId");
        if (v.isValid() && v.toInt() == id) return w;
    }
    return nullptr;
}

QStringList opacityCaptions() {
    QStringList list;
    for (int i = 0; i <= 10; ++i) list << QStringLiteral("%1%").arg(i * 10);
    return list;
}

QStringList watermarkPositionCaptions() {
    return {"TopLeft",    "TopRight",    "TopCenter",  "BottomLeft",  "BottomRight",
            "BottomCenter", "MiddleLeft", "MiddleRight", "MiddleCenter"};
}

QStringList pipPositionCaptions() {
    return {"Top Left",    "Top Right",    "Top Center",  "Bottom Left",  "Bottom Right",
            "Bottom Center", "Middle Left", "Middle Right", "Middle Center"};
}

QStringList captureSizeCaptions() {
    return {"Keep Original Size", "Proportional 2/3", "Proportional 1/2", "Proportional 1/3",
            "Fixed - 800x600",    "Fixed - 640x480",  "Fixed - 320x240"};
}

QStringList qualityCaptions() { return {"Normal", "Higher", "Highest"}; }

QColor colorFromColorref(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

uint32_t colorrefFromColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return static_cast<uint32_t>(rgb.red()) | (static_cast<uint32_t>(rgb.green()) << 8) |
           (static_cast<uint32_t>(rgb.blue()) << 16);
}

}  // namespace torvane
