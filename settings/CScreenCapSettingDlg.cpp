#include "settings/CScreenCapSettingDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/ui/DdxDataExchange.h"
#include "settings/CCursorSettingDlg.h"
#include "settings/DlgControls.h"
#include "settings/DlgUpDownCtrl.h"

namespace torvane {

CScreenCapSettingDlg::CScreenCapSettingDlg(const ScreenSettings* screen, const CursorSettings& cursor,
                                           QWidget* parent)
    : QDialog(parent), cursor_(cursor) {
    if (screen) {
        quality_ = screen->quality;
        sizeChoice_ = screen->sizeChoice;
        includeTaskbar_ = screen->includeTaskbar;
        // The box is read-only and the arrows only step within the range, so a stored rate
        // outside it is shown at the nearer bound instead of refusing the dialog on opening.
        frameRate_ = std::clamp(screen->frameRate, kMinFrameRate, kMaxFrameRate);
    }
    captureCursor_ = cursor_.captureCursor;

    setWindowTitle(QStringLiteral("Screen Capture Settings"));
    setObjectName(QStringLiteral("IDD_SCREEN_CAPTURE_SETTINGS"));

    sizeList_ = withId(new QComboBox, "IDC_CAPTURE_SIZE", IDC_CAPTURE_SIZE);
    qualityList_ = withId(new QComboBox, "IDC_QUALITY", IDC_QUALITY);
    frameRateEdit_ = withId(new QLineEdit, "IDC_FRAME_RATE", IDC_FRAME_RATE);
    frameRateEdit_->setReadOnly(true);
    frameRateEdit_->setMaximumWidth(48);
    frameRateSpin_ = withId(new CUpDownCtrl(frameRateEdit_, this), "IDC_FRAME_RATE_SPIN", IDC_FRAME_RATE_SPIN);
    taskbarBox_ = withId(new QCheckBox(QStringLiteral("Include the taskbar in the screen recording")),
                         "IDC_INCLUDE_TASKBAR", IDC_INCLUDE_TASKBAR);
    cursorBox_ = withId(new QCheckBox(QStringLiteral("Capture the Mouse Cursor")), "IDC_CAPTURE_CURSOR",
                        IDC_CAPTURE_CURSOR);
    cursorButton_ = withId(new QPushButton(QStringLiteral("Cursor")), "IDC_CURSOR", IDC_CURSOR);

    auto* group = new QGroupBox(QStringLiteral("Screen Capture Settings"));
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Capture Size :")), 0, 0);
    grid->addWidget(sizeList_, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Quality :")), 1, 0);
    grid->addWidget(qualityList_, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Frame Rate :")), 2, 0);
    auto* rateRow = new QHBoxLayout;
    rateRow->setSpacing(0);
    rateRow->addWidget(frameRateEdit_);
    rateRow->addWidget(frameRateSpin_);
    rateRow->addSpacing(8);
    rateRow->addWidget(new QLabel(QStringLiteral("(8 = default)")));
    rateRow->addStretch();
    grid->addLayout(rateRow, 2, 1, 1, 2);
    grid->addWidget(taskbarBox_, 3, 0, 1, 3);
    grid->addWidget(cursorBox_, 4, 0, 1, 2);
    grid->addWidget(cursorButton_, 4, 2);

    layOutAboveButtonRow(this, group, true);

    connect(cursorBox_, &QCheckBox::clicked, this, [this] {
        updateData(true);
        applyCursorRule();
    });
    connect(cursorButton_, &QPushButton::clicked, this, &CScreenCapSettingDlg::onCursor);

    // Opening.
    sizeList_->addItems(captureSizeCaptions());
    qualityList_->addItems(qualityCaptions());
    sizeList_->setCurrentIndex(0);
    qualityList_->setCurrentIndex(0);
    frameRateSpin_->setRange(kMinFrameRate, kMaxFrameRate);
    updateData(false);
    updateData(true);
    applyCursorRule();
}

bool CScreenCapSettingDlg::updateData(bool save) {
    ui::CDataExchange dx(this, save);
    dx.cbIndex(sizeList_, sizeChoice_);
    dx.cbIndex(qualityList_, quality_);
    dx.check(cursorBox_, captureCursor_);
    dx.check(taskbarBox_, includeTaskbar_);
    dx.text(frameRateEdit_, frameRate_);
    dx.minMaxInt(frameRate_, kMinFrameRate, kMaxFrameRate);
    return !dx.failed();
}

void CScreenCapSettingDlg::applyCursorRule() { cursorButton_->setEnabled(cursorBox_->isChecked()); }

void CScreenCapSettingDlg::onCursor() {
    CCursorSettingDlg dlg(&cursor_, this);
    if (dlg.exec() != QDialog::Accepted) return;
    dlg.writeTo(cursor_);
}

void CScreenCapSettingDlg::accept() {
    if (!updateData(true)) return;
    cursor_.captureCursor = captureCursor_;
    QDialog::accept();
}

void CScreenCapSettingDlg::writeTo(ScreenSettings& s) const {
    s.frameRate = frameRate_;
    s.quality = quality_;
    s.sizeChoice = sizeChoice_;
    s.includeTaskbar = includeTaskbar_;
}

}  // namespace torvane
