#pragma once
// "Settings" of a V4L2 webcam: one row per control of the device (a slider for a range, a check
// box for on/off, a list for a menu, a button for an action). Every change is set in the device
// at once; the device keeps it, so there is nothing to apply on closing.

#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "platform/v4l2/V4l2Controls.h"

class QLabel;

namespace torvane {

class CCameraControlsDlg : public QDialog {
    Q_OBJECT
public:
    // `controls` is the device's control set (the real device or a stand-in); `caption` the webcam's name.
    CCameraControlsDlg(std::shared_ptr<v4l2::ControlSet> controls, const QString& caption, QWidget* parent);

    // Rows shown (the controls the dialog can set).
    int rowCount() const { return int(controls_.size()); }
    // The last failure to read or set, empty when none (also shown in the dialog).
    const QString& lastError() const { return lastError_; }

private:
    void apply(uint32_t id, int32_t value);
    QWidget* editorFor(const v4l2::Control& c, int32_t value);

    std::shared_ptr<v4l2::ControlSet> set_;
    std::vector<v4l2::Control> controls_;
    QLabel* status_;
    QString lastError_;
};

// Opens the dialog for the V4L2 node `path` modally; a message names the reason when it cannot.
void runCameraControls(QWidget* parent, const std::string& path, const QString& caption);

}  // namespace torvane
