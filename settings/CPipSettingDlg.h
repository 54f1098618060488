#pragma once
// "Picture in Picture Settings": whether the webcam is shown over the screen recording and at
// which of the nine places, with the chosen webcam and its size shown for reference and the way
// to change them.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "settings/CaptureSettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace torvane {

class CPipSettingDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 144,
        IDC_PIP_ON = 1038,
        IDC_PIP_SOURCE = 1036,
        IDC_PIP_RESOLUTION = 1037,
        IDC_PIP_POSITION = 1027,
        IDC_PIP_WEBCAM_SETTINGS = 1021,
    };
    // Widest the source name is shown before it is cut with an ellipsis.
    static constexpr int kSourceWidth = 180;

    // `settings` may be null (off, top left). `webcam` is the caller's working copy, which
    // "Webcam Settings" changes at once, whatever this dialog ends with; may be null.
    CPipSettingDlg(QWidget* parent, const PipSettings* settings, WebcamSettings* webcam);

    // The webcam dialog; tests replace it. True on OK with its answer.
    std::function<bool(QWidget* parent, const WebcamSettings& current, std::string& name, uint32_t& resolution)>
        runWebcamSettings;

    // Valid after OK.
    int overlayOn() const { return on_; }
    int position() const { return position_; }
    // As shown.
    const QString& sourceText() const { return source_; }
    const QString& resolutionText() const { return resolutionText_; }

    void accept() override;

private:
    void updateData(bool save);
    void showWebcam();
    void applyOnRule();
    void onWebcamSettings();

    WebcamSettings* webcam_;
    int position_ = 0;
    int on_ = 0;
    QString source_;
    QString resolutionText_;

    QCheckBox* onBox_;
    QLabel* sourceLabel_;
    QLabel* resolutionLabel_;
    QComboBox* positionList_;
    QPushButton* webcamButton_;
};

// Runs the dialog modally on the caller's webcam working copy; true on OK with the check box
// and the position.
bool runPipSettingDlg(QWidget* parent, const PipSettings& current, WebcamSettings& webcam, int& on, int& position);

}  // namespace torvane
