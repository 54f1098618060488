#pragma once
// "Webcam": which camera, at which size, and the way to the camera's own controls. Opens on the
// stored camera and size when they are still there.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "settings/CaptureSettings.h"
#include "webcam/VideoDeviceEnum.h"

class QComboBox;
class QPushButton;

namespace torvane {

// What the dialog asks of the cameras. The defaults are the real device list and V4L2 controls.
struct WebcamDeviceAccess {
    std::function<std::vector<std::string>()> names;
    // The resolution entries of the first device named exactly `name`, and its V4L2 node ("" when none).
    std::function<bool(const std::string& name, std::vector<ResolutionItem>& items, std::string& v4l2Path)> resolutions;
    std::function<bool(const std::string& v4l2Path)> hasControls;
    std::function<void(QWidget* parent, const std::string& v4l2Path, const QString& caption)> openControls;
    static WebcamDeviceAccess system();
};

class CWebcamSettingDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 145,
        IDC_WEBCAM_SOURCE = 1020,
        IDC_WEBCAM_RESOLUTION = 1021,
        IDC_WEBCAM_DEVICE_SETTINGS = 1011,
    };

    // `settings` may be null: no camera and no size to look for.
    CWebcamSettingDlg(QWidget* parent, const WebcamSettings* settings,
                      WebcamDeviceAccess devices = WebcamDeviceAccess::system());

    // Valid after OK: the chosen camera (empty = none, which clears the stored webcam) and its
    // size, width in the low 16 bits, height in the high 16 bits.
    const std::string& deviceName() const { return deviceName_; }
    uint32_t resolution() const { return resolution_; }

    void accept() override;

private:
    void onSourceChanged();
    void onDeviceSettings();

    WebcamDeviceAccess devices_;
    std::string deviceName_;
    uint32_t resolution_ = 0;
    std::string v4l2Path_;   // the chosen camera's node, for its controls

    QComboBox* sourceList_;
    QComboBox* resolutionList_;
    QPushButton* settingsButton_;
};

// Writes the dialog's answer into the record: the name area cleared first; an empty name leaves
// no webcam and size 0 x 0.
void storeWebcamChoice(WebcamSettings& s, const std::string& name, uint32_t resolution);

// Runs the dialog modally; true on OK with its answer.
bool runWebcamSettingDlg(QWidget* parent, const WebcamSettings& current, std::string& name, uint32_t& resolution);

}  // namespace torvane
