#include "settings/CWatermarkSettingDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <iterator>

#include "platform/ui/DdxDataExchange.h"
#include "platform/ui/MessageBox.h"
#include "settings/DlgControls.h"

namespace torvane {

namespace {

QLineEdit* digitsEdit(const char* name, int id) {
    auto* edit = withId(new QLineEdit, name, id);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    edit->setMaximumWidth(56);
    return edit;
}

// Longest path the stored record holds (the rest of its 260 units is the terminator).
constexpr int kMaxPathUnits = static_cast<int>(sizeof(WatermarkSettings::imagePath) / sizeof(char16_t)) - 1;

}  // namespace

CWatermarkSettingDlg::CWatermarkSettingDlg(const WatermarkSettings* settings, QWidget* parent) : QDialog(parent) {
    if (settings) {
        position_ = settings->position;
        opacityIndex_ = settings->opacity / 10;
        height_ = settings->height;
        width_ = settings->width;
        on_ = settings->on;
        path_ = QString::fromStdString(fromUtf16Field(settings->imagePath, std::size(settings->imagePath)));
        marginX_ = settings->marginX;
        marginY_ = settings->marginY;
    }
    chooseImageFile = [](QWidget* owner) {
        return QFileDialog::getOpenFileName(
            owner, QString(), QString(),
            QStringLiteral("Image files(*.jpg,*.jpeg,*.gif,*.png,*.bmp) (*.jpg *.jpeg *.gif *.png *.bmp)"));
    };

    setWindowTitle(QStringLiteral("Watermark setting"));
    setObjectName(QStringLiteral("IDD_WATERMARK_SETTING"));

    onBox_ = withId(new QCheckBox(QStringLiteral("Insert watermark")), "IDC_INSERT_WATERMARK", IDC_INSERT_WATERMARK);
    pathEdit_ = withId(new QLineEdit, "IDC_WATERMARK_FILE", IDC_WATERMARK_FILE);
    pathEdit_->setReadOnly(true);
    browseButton_ = withId(new QPushButton(QStringLiteral("...")), "IDC_WATERMARK_BROWSE", IDC_WATERMARK_BROWSE);
    browseButton_->setMaximumWidth(32);
    positionList_ = withId(new QComboBox, "IDC_WATERMARK_POSITION", IDC_WATERMARK_POSITION);
    widthEdit_ = digitsEdit("IDC_WATERMARK_WIDTH", IDC_WATERMARK_WIDTH);
    heightEdit_ = digitsEdit("IDC_WATERMARK_HEIGHT", IDC_WATERMARK_HEIGHT);
    opacityList_ = withId(new QComboBox, "IDC_WATERMARK_OPACITY", IDC_WATERMARK_OPACITY);
    marginXEdit_ = digitsEdit("IDC_WATERMARK_MARGIN_X", IDC_WATERMARK_MARGIN_X);
    marginYEdit_ = digitsEdit("IDC_WATERMARK_MARGIN_Y", IDC_WATERMARK_MARGIN_Y);

    auto* group = new QGroupBox(QStringLiteral("Watermark setting"));
    auto* grid = new QGridLayout(group);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(pathEdit_, 1);
    fileRow->addWidget(browseButton_);
    grid->addWidget(onBox_, 0, 0);
    grid->addLayout(fileRow, 0, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Position :")), 1, 0);
    grid->addWidget(positionList_, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Size :")), 1, 2);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(widthEdit_);
    sizeRow->addWidget(new QLabel(QStringLiteral("X")));
    sizeRow->addWidget(heightEdit_);
    sizeRow->addWidget(new QLabel(QStringLiteral("px")));
    grid->addLayout(sizeRow, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Opacity :")), 2, 0);
    grid->addWidget(opacityList_, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Margin :")), 2, 2);
    auto* marginRow = new QHBoxLayout;
    marginRow->addWidget(new QLabel(QStringLiteral("x")));
    marginRow->addWidget(marginXEdit_);
    marginRow->addWidget(new QLabel(QStringLiteral("y")));
    marginRow->addWidget(marginYEdit_);
    marginRow->addWidget(new QLabel(QStringLiteral("px")));
    grid->addLayout(marginRow, 2, 3);

    layOutAboveButtonRow(this, group, false);   // the template has no Cancel button

    connect(onBox_, &QCheckBox::clicked, this, &CWatermarkSettingDlg::applyOnRule);
    connect(browseButton_, &QPushButton::clicked, this, &CWatermarkSettingDlg::onBrowse);

    // Opening.
    opacityList_->addItems(opacityCaptions());
    positionList_->addItems(watermarkPositionCaptions());
    updateData(false);
    applyOnRule();
}

bool CWatermarkSettingDlg::updateData(bool save) {
    ui::CDataExchange dx(this, save);
    dx.check(onBox_, on_);
    dx.text(pathEdit_, path_);
    dx.cbIndex(positionList_, position_);
    dx.text(widthEdit_, width_);
    dx.minMaxInt(width_, 0, kMaxExtent);
    dx.text(heightEdit_, height_);
    dx.minMaxInt(height_, 0, kMaxExtent);
    dx.cbIndex(opacityList_, opacityIndex_);
    dx.text(marginXEdit_, marginX_);
    dx.minMaxInt(marginX_, 0, kMaxExtent);
    dx.text(marginYEdit_, marginY_);
    dx.minMaxInt(marginY_, 0, kMaxExtent);
    return !dx.failed();
}

void CWatermarkSettingDlg::applyOnRule() {
    updateData(true);
    const bool on = onBox_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{pathEdit_, browseButton_, positionList_, widthEdit_,
                                                      heightEdit_, opacityList_, marginXEdit_, marginYEdit_})
        w->setEnabled(on);
}

void CWatermarkSettingDlg::onBrowse() {
    if (!updateData(true)) return;
    const QString chosen = chooseImageFile ? chooseImageFile(this) : QString();
    if (chosen.isEmpty()) return;
    path_ = chosen;
    const QImage image(chosen);
    width_ = image.isNull() ? 0 : image.width();
    height_ = image.isNull() ? 0 : image.height();
    opacityIndex_ = 7;
    updateData(false);
}

void CWatermarkSettingDlg::accept() {
    if (!updateData(true)) return;
    if (on_ && path_.isEmpty()) {
        ui::messageBox(this, QStringLiteral("Please set the watermark file name."), {}, ui::MB_OK | ui::MB_ICONERROR);
        return;
    }
    // A path cut to fit the record would name another (or no) file.
    if (on_ && path_.size() > kMaxPathUnits) {
        ui::messageBox(this, QStringLiteral("The watermark file name is too long."), {}, ui::MB_OK | ui::MB_ICONERROR);
        return;
    }
    QDialog::accept();
}

void CWatermarkSettingDlg::writeTo(WatermarkSettings& s) const {
    toUtf16Field(path_.toStdString(), s.imagePath, std::size(s.imagePath));
    s.position = position_;
    s.width = width_;
    s.height = height_;
    s.opacity = opacityIndex_ * 10;
    s.marginX = marginX_;
    s.marginY = marginY_;
    s.on = on_;
}

}  // namespace torvane
