#pragma once
// "Cursor capture setting": the highlight drawn round the mouse cursor (type, colour, size,
// opacity). Works on its own fields; the caller copies them back after OK.

#include <QDialog>
#include <cstdint>

#include "settings/CaptureSettings.h"

class QComboBox;
class QLineEdit;

namespace torvane {

class CColorButton;

class CCursorSettingDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 146,
        IDC_CURSOR_TYPE = 1016,
        IDC_CURSOR_COLOR = 1018,
        IDC_CURSOR_SIZE = 1034,
        IDC_CURSOR_OPACITY = 1022,
    };

    // `settings` may be null: then type 0, black, size 0, "0%".
    CCursorSettingDlg(const CursorSettings* settings, QWidget* parent);

    // Valid after OK.
    int highlightType() const { return type_; }
    uint32_t highlightColor() const { return color_; }
    int opacityIndex() const { return opacityIndex_; }
    int highlightSize() const { return size_; }

    // Copies the four highlight fields into `s` (opacity as index x 10 percent).
    void writeTo(CursorSettings& s) const;

    void accept() override;

private:
    void initDialog();
    bool updateData(bool save);
    void applyTypeRule();

    int type_ = 0;
    uint32_t color_ = 0;
    int size_ = 0;
    int opacityIndex_ = 0;
    bool initialised_ = false;

    QComboBox* typeList_;
    CColorButton* colorButton_;
    QLineEdit* sizeEdit_;
    QComboBox* opacityList_;
};

}  // namespace torvane
