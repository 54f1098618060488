#include "app/AboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/AppIcon.h"
#include "app/RecorderResources.h"

namespace torvane {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("About TorvaneRecorder"));
    auto* icon = new QLabel;
    icon->setPixmap(recorderIcon().pixmap(32, 32));
    auto* words = new QLabel(QStringLiteral("TorvaneRecorder Version %1\nCopyright (C) Torvane Communications. "
                                            "All rights reserved.")
                                 .arg(text::kVersion));
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(words, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    setFixedSize(sizeHint());
}

}  // namespace torvane
