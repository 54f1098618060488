#include "settings/CCursorSettingDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "platform/ui/DdxDataExchange.h"
#include "settings/DlgColorButton.h"
#include "settings/DlgControls.h"

namespace torvane {

namespace {

// The three 20 x 20 type pictures: the pointer arrow, a filled rectangle, a filled ellipse.
QIcon typeIcon(int type) {
    QPixmap picture(20, 20);
    picture.fill(Qt::white);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing, true);
    if (type == kHighlightPointer) {
        QPainterPath arrow;
        arrow.moveTo(5, 2);
        arrow.lineTo(5, 17);
        arrow.lineTo(9, 13);
        arrow.lineTo(12, 19);
        arrow.lineTo(14, 18);
        arrow.lineTo(11, 12);
        arrow.lineTo(16, 12);
        arrow.closeSubpath();
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawPath(arrow);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 128));
        if (type == kHighlightRectangle)
            p.drawRect(3, 3, 14, 14);
        else
            p.drawEllipse(3, 3, 14, 14);
    }
    return QIcon(picture);
}

}  // namespace

CCursorSettingDlg::CCursorSettingDlg(const CursorSettings* settings, QWidget* parent) : QDialog(parent) {
    if (settings) {
        type_ = settings->highlightType;
        color_ = settings->highlightColor;
        size_ = settings->highlightSize;
        opacityIndex_ = settings->highlightOpacity / 10;
    }
    setWindowTitle(QStringLiteral("Cursor capture setting"));
    setObjectName(QStringLiteral("IDD_CURSOR_SETTING"));

    typeList_ = withId(new QComboBox, "IDC_CURSOR_TYPE", IDC_CURSOR_TYPE);
    typeList_->setIconSize(QSize(20, 20));
    colorButton_ = withId(new CColorButton(this), "IDC_CURSOR_COLOR", IDC_CURSOR_COLOR);
    sizeEdit_ = withId(new QLineEdit, "IDC_CURSOR_SIZE", IDC_CURSOR_SIZE);
    sizeEdit_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), sizeEdit_));
    opacityList_ = withId(new QComboBox, "IDC_CURSOR_OPACITY", IDC_CURSOR_OPACITY);

    auto* group = new QGroupBox(QStringLiteral("Cursor capture setting"));
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Type :")), 0, 0);
    grid->addWidget(typeList_, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Color :")), 0, 2);
    grid->addWidget(colorButton_, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Size :")), 1, 0);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(sizeEdit_);
    sizeRow->addWidget(new QLabel(QStringLiteral("px")));
    grid->addLayout(sizeRow, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Opacity :")), 1, 2);
    grid->addWidget(opacityList_, 1, 3);

    auto* ok = withId(new QPushButton(QStringLiteral("OK")), "IDOK", IDOK);
    auto* cancel = withId(new QPushButton(QStringLiteral("Cancel")), "IDCANCEL", IDCANCEL);
    ok->setDefault(true);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* top = new QHBoxLayout(this);
    top->addWidget(group, 1);
    top->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &CCursorSettingDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CCursorSettingDlg::reject);
    connect(typeList_, &QComboBox::activated, this, [this] {
        updateData(true);
        applyTypeRule();
    });
    initDialog();
}

void CCursorSettingDlg::initDialog() {
    if (initialised_) return;
    initialised_ = true;
    opacityList_->addItems(opacityCaptions());
    typeList_->addItem(typeIcon(kHighlightPointer), QStringLiteral("Pointer"));
    typeList_->addItem(typeIcon(kHighlightRectangle), QStringLiteral("Rectangle"));
    typeList_->addItem(typeIcon(kHighlightEllipse), QStringLiteral("Ellipse"));
    colorButton_->setColor(colorFromColorref(color_));
    updateData(false);
    applyTypeRule();
}

bool CCursorSettingDlg::updateData(bool save) {
    ui::CDataExchange dx(this, save);
    dx.cbIndex(typeList_, type_);
    dx.text(sizeEdit_, size_);
    dx.minMaxInt(size_, 2, 50);
    dx.cbIndex(opacityList_, opacityIndex_);
    return !dx.failed();
}

void CCursorSettingDlg::applyTypeRule() {
    const bool highlight = typeList_->currentIndex() != kHighlightPointer;
    colorButton_->setEnabled(highlight);
    sizeEdit_->setEnabled(highlight);
    opacityList_->setEnabled(highlight);
}

void CCursorSettingDlg::accept() {
    color_ = colorrefFromColor(colorButton_->color());
    if (!updateData(true)) return;
    QDialog::accept();
}

void CCursorSettingDlg::writeTo(CursorSettings& s) const {
    s.highlightType = type_;
    s.highlightColor = color_;
    s.highlightOpacity = opacityIndex_ * 10;
    s.highlightSize = size_;
}

}  // namespace torvane
