#pragma once
// "Screen Capture Settings": capture size, quality, frame rate, taskbar and cursor capture, and
// the way to the cursor highlight dialog. Works on its own copies; the caller copies the results
// back after OK.

#include <QDialog>

#include "settings/CaptureSettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace torvane {

class CUpDownCtrl;

class CScreenCapSettingDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 150,
        IDC_CAPTURE_SIZE = 1002,
        IDC_QUALITY = 1010,
        IDC_FRAME_RATE = 1008,
        IDC_FRAME_RATE_SPIN = 1009,
        IDC_INCLUDE_TASKBAR = 1014,
        IDC_CAPTURE_CURSOR = 1004,
        IDC_CURSOR = 1020,
    };
    static constexpr int kMinFrameRate = 3;
    static constexpr int kMaxFrameRate = 30;

    // `screen` may be null (size and quality 0, taskbar on, 8 frames per second).
    CScreenCapSettingDlg(const ScreenSettings* screen, const CursorSettings& cursor, QWidget* parent);

    // Valid after OK.
    int quality() const { return quality_; }
    int sizeChoice() const { return sizeChoice_; }
    int frameRate() const { return frameRate_; }
    int includeTaskbar() const { return includeTaskbar_; }
    const CursorSettings& cursorSettings() const { return cursor_; }

    // Copies frame rate, quality, size choice and taskbar flag into `s`.
    void writeTo(ScreenSettings& s) const;

    void accept() override;

private:
    bool updateData(bool save);
    void applyCursorRule();
    void onCursor();

    int quality_ = 0;
    int sizeChoice_ = 0;
    int captureCursor_ = 1;
    int includeTaskbar_ = 1;
    CursorSettings cursor_;
    int frameRate_ = 8;

    QComboBox* sizeList_;
    QComboBox* qualityList_;
    QLineEdit* frameRateEdit_;
    CUpDownCtrl* frameRateSpin_;
    QCheckBox* taskbarBox_;
    QCheckBox* cursorBox_;
    QPushButton* cursorButton_;
};

}  // namespace torvane
