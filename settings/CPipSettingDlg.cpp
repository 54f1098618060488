#include "settings/CPipSettingDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <iterator>

#include "platform/ui/DdxDataExchange.h"
#include "settings/CWebcamSettingDlg.h"
#include "settings/DlgControls.h"

namespace torvane {

CPipSettingDlg::CPipSettingDlg(QWidget* parent, const PipSettings* settings, WebcamSettings* webcam)
    : QDialog(parent), webcam_(webcam) {
    if (settings) {
        position_ = settings->position;
        on_ = settings->on;
    }
    runWebcamSettings = runWebcamSettingDlg;

    setWindowTitle(QStringLiteral("Picture in Picture Settings"));
    setObjectName(QStringLiteral("IDD_PIP_SETTING"));

    onBox_ = withId(new QCheckBox(QStringLiteral("Record Video from Presenter (Picture in Picture)")), "IDC_PIP_ON",
                    IDC_PIP_ON);
    sourceLabel_ = withId(new QLabel, "IDC_PIP_SOURCE", IDC_PIP_SOURCE);
    sourceLabel_->setFixedWidth(kSourceWidth);
    resolutionLabel_ = withId(new QLabel, "IDC_PIP_RESOLUTION", IDC_PIP_RESOLUTION);
    positionList_ = withId(new QComboBox, "IDC_PIP_POSITION", IDC_PIP_POSITION);
    webcamButton_ = withId(new QPushButton(QStringLiteral("Webcam Settings")), "IDC_PIP_WEBCAM_SETTINGS",
                           IDC_PIP_WEBCAM_SETTINGS);

    auto* group = new QGroupBox(QStringLiteral("Picture in Picture"));
    auto* grid = new QGridLayout(group);
    grid->addWidget(onBox_, 0, 0, 1, 3);
    auto* hint = new QLabel(QStringLiteral("This option shows your web cam over your screen recording."));
    hint->setWordWrap(true);
    grid->addWidget(hint, 1, 0, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Source :")), 2, 0);
    grid->addWidget(sourceLabel_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Resolution :")), 3, 0);
    grid->addWidget(resolutionLabel_, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Position :")), 4, 0);
    grid->addWidget(positionList_, 4, 1);
    grid->addWidget(webcamButton_, 4, 2);

    layOutAboveButtonRow(this, group, false);   // the template has no Cancel button

    connect(onBox_, &QCheckBox::clicked, this, &CPipSettingDlg::applyOnRule);
    connect(webcamButton_, &QPushButton::clicked, this, &CPipSettingDlg::onWebcamSettings);

    // Opening.
    positionList_->addItems(pipPositionCaptions());
    showWebcam();
    updateData(false);
    updateData(true);
    applyOnRule();
}

void CPipSettingDlg::showWebcam() {
    const WebcamSettings none;
    const WebcamSettings& w = webcam_ ? *webcam_ : none;
    source_ = QString::fromStdString(fromUtf16Field(w.deviceName, std::size(w.deviceName)));
    resolutionText_ = QStringLiteral("%1x%2").arg(w.width).arg(w.height);
    sourceLabel_->setText(sourceLabel_->fontMetrics().elidedText(source_, Qt::ElideRight, kSourceWidth));
    sourceLabel_->setToolTip(source_);
    resolutionLabel_->setText(resolutionText_);
}

void CPipSettingDlg::updateData(bool save) {
    ui::CDataExchange dx(this, save);
    dx.cbIndex(positionList_, position_);
    dx.check(onBox_, on_);
}

void CPipSettingDlg::applyOnRule() {
    updateData(true);
    const bool on = onBox_->isChecked();
    positionList_->setEnabled(on);
    webcamButton_->setEnabled(on);
}

void CPipSettingDlg::onWebcamSettings() {
    if (!webcam_ || !runWebcamSettings) return;
    std::string name;
    uint32_t resolution = 0;
    if (!runWebcamSettings(this, *webcam_, name, resolution)) return;
    storeWebcamChoice(*webcam_, name, resolution);
    showWebcam();
}

void CPipSettingDlg::accept() {
    updateData(true);
    QDialog::accept();
}

bool runPipSettingDlg(QWidget* parent, const PipSettings& current, WebcamSettings& webcam, int& on, int& position) {
    CPipSettingDlg dlg(parent, &current, &webcam);
    if (dlg.exec() != QDialog::Accepted) return false;
    on = dlg.overlayOn();
    position = dlg.position();
    return true;
}

}  // namespace torvane
