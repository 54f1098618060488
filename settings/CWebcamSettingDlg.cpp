#include "settings/CWebcamSettingDlg.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "platform/v4l2/V4l2Controls.h"
#include "settings/DlgControls.h"
#include "webcam/CameraControlsDlg.h"

namespace torvane {

WebcamDeviceAccess WebcamDeviceAccess::system() {
    WebcamDeviceAccess a;
    a.names = [] { return listWebcams(); };
    a.resolutions = [](const std::string& name, std::vector<ResolutionItem>& items, std::string& path) {
        return listResolutions(name, items, &path);
    };
    a.hasControls = [](const std::string& path) { return v4l2::hasControls(path); };
    a.openControls = [](QWidget* parent, const std::string& path, const QString& caption) {
        runCameraControls(parent, path, caption);
    };
    return a;
}

CWebcamSettingDlg::CWebcamSettingDlg(QWidget* parent, const WebcamSettings* settings, WebcamDeviceAccess devices)
    : QDialog(parent), devices_(std::move(devices)) {
    if (settings) {
        deviceName_ = fromUtf16Field(settings->deviceName, std::size(settings->deviceName));
        resolution_ = packResolution(settings->width, settings->height);
    }
    setWindowTitle(QStringLiteral("Webcam"));
    setObjectName(QStringLiteral("IDD_WEBCAM_SETTING"));

    sourceList_ = withId(new QComboBox, "IDC_WEBCAM_SOURCE", IDC_WEBCAM_SOURCE);
    resolutionList_ = withId(new QComboBox, "IDC_WEBCAM_RESOLUTION", IDC_WEBCAM_RESOLUTION);
    settingsButton_ = withId(new QPushButton(QStringLiteral("Settings")), "IDC_WEBCAM_DEVICE_SETTINGS",
                             IDC_WEBCAM_DEVICE_SETTINGS);
    sourceList_->setMinimumWidth(220);

    auto* group = new QGroupBox(QStringLiteral("Webcam setting"));
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Source :")), 0, 0);
    grid->addWidget(sourceList_, 0, 1);
    grid->addWidget(settingsButton_, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Resolution :")), 1, 0);
    grid->addWidget(resolutionList_, 1, 1);

    layOutAboveButtonRow(this, group, true);

    connect(settingsButton_, &QPushButton::clicked, this, &CWebcamSettingDlg::onDeviceSettings);

    // Opening.
    std::vector<std::string> names = devices_.names ? devices_.names() : std::vector<std::string>{};
    for (const auto& n : names) sourceList_->addItem(QString::fromStdString(n));
    if (names.empty()) {
        sourceList_->setEnabled(false);
        resolutionList_->setEnabled(false);
        return;
    }
    // The stored camera itself when it is listed (case ignored), else the first whose name begins
    // with it: a shorter name must not pick a longer one listed before it.
    const QString stored = QString::fromStdString(deviceName_);
    int at = stored.isEmpty() ? -1 : sourceList_->findText(stored, Qt::MatchFixedString);
    if (at < 0 && !stored.isEmpty()) at = sourceList_->findText(stored, Qt::MatchStartsWith);
    sourceList_->setCurrentIndex(at >= 0 ? at : 0);
    onSourceChanged();
    connect(sourceList_, &QComboBox::currentIndexChanged, this, &CWebcamSettingDlg::onSourceChanged);
}

void CWebcamSettingDlg::onSourceChanged() {
    deviceName_ = sourceList_->currentText().toStdString();
    std::vector<ResolutionItem> items;
    v4l2Path_.clear();
    if (devices_.resolutions) devices_.resolutions(deviceName_, items, v4l2Path_);
    resolutionList_->clear();
    for (const auto& i : items) resolutionList_->addItem(QString::fromStdString(i.text), QVariant::fromValue(i.value));
    int select = defaultResolutionIndex(items);
    // The stored size is looked for in every camera's list, so switching back and forth keeps it.
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].value == resolution_) select = int(i);
    resolutionList_->setCurrentIndex(select);
    settingsButton_->setEnabled(!v4l2Path_.empty() && devices_.hasControls && devices_.hasControls(v4l2Path_));
}

void CWebcamSettingDlg::onDeviceSettings() {
    // Without a camera the button stays usable but has nothing to open.
    if (sourceList_->count() == 0 || v4l2Path_.empty() || !devices_.openControls) return;
    devices_.openControls(this, v4l2Path_, sourceList_->currentText());
}

void CWebcamSettingDlg::accept() {
    if (resolutionList_->currentIndex() >= 0) {
        resolution_ = resolutionList_->currentData().toUInt();
        deviceName_ = sourceList_->currentText().toStdString();
    } else {
        deviceName_.clear();   // nothing usable chosen: the caller clears the stored webcam
    }
    QDialog::accept();
}

void storeWebcamChoice(WebcamSettings& s, const std::string& name, uint32_t resolution) {
    std::fill(std::begin(s.deviceName), std::end(s.deviceName), u'\0');
    if (name.empty()) {
        s.width = s.height = 0;
        return;
    }
    toUtf16Field(name, s.deviceName, std::size(s.deviceName));
    s.width = static_cast<uint16_t>(resolution & 0xFFFF);
    s.height = static_cast<uint16_t>(resolution >> 16);
}

bool runWebcamSettingDlg(QWidget* parent, const WebcamSettings& current, std::string& name, uint32_t& resolution) {
    CWebcamSettingDlg dlg(parent, &current);
    if (dlg.exec() != QDialog::Accepted) return false;
    name = dlg.deviceName();
    resolution = dlg.resolution();
    return true;
}

}  // namespace torvane
