#pragma once
// "Watermark setting": whether an image is laid over the recording, which file, where, how large,
// how opaque and how far from the edges. Choosing a file takes the image's own size.

#include <QDialog>
#include <QString>
#include <functional>

#include "settings/CaptureSettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace torvane {

class CWatermarkSettingDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 141,
        IDC_INSERT_WATERMARK = 1022,
        IDC_WATERMARK_FILE = 1032,
        IDC_WATERMARK_BROWSE = 1013,
        IDC_WATERMARK_POSITION = 1027,
        IDC_WATERMARK_WIDTH = 1030,
        IDC_WATERMARK_HEIGHT = 1031,
        IDC_WATERMARK_OPACITY = 1028,
        IDC_WATERMARK_MARGIN_X = 1033,
        IDC_WATERMARK_MARGIN_Y = 1034,
    };
    static constexpr int kMaxExtent = 2000;

    // `settings` may be null: everything off and empty, opacity "100%".
    CWatermarkSettingDlg(const WatermarkSettings* settings, QWidget* parent);

    // Asks for an image file; an empty answer means cancelled. The default is the open-file dialog;
    // tests replace it.
    std::function<QString(QWidget* parent)> chooseImageFile;

    // Valid after OK.
    int watermarkOn() const { return on_; }
    const QString& imagePath() const { return path_; }
    int position() const { return position_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int opacityIndex() const { return opacityIndex_; }
    int marginX() const { return marginX_; }
    int marginY() const { return marginY_; }

    // Writes every field into `s` (path area zero-filled, opacity as index x 10 percent).
    void writeTo(WatermarkSettings& s) const;

    void accept() override;

private:
    bool updateData(bool save);
    void applyOnRule();
    void onBrowse();

    int position_ = 0;
    int opacityIndex_ = 10;
    int height_ = 0;
    int width_ = 0;
    int on_ = 0;
    QString path_;
    int marginX_ = 0;
    int marginY_ = 0;

    QCheckBox* onBox_;
    QLineEdit* pathEdit_;
    QPushButton* browseButton_;
    QComboBox* positionList_;
    QLineEdit* widthEdit_;
    QLineEdit* heightEdit_;
    QComboBox* opacityList_;
    QLineEdit* marginXEdit_;
    QLineEdit* marginYEdit_;
};

}  // namespace torvane
