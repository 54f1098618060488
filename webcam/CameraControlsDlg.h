#pragma once
// "Settings" of a V4L2 webcam: one row per control of the device (a slider for a range, a check
// box for on/off, a list for a menu, a button for an action). Every change is set in the device
// at once; the device keeps it, so there is nothing to apply on closing. A control the device
// marks inactive, read-only or held by a stream cannot be edited, and after each change every row
// is read again, as one control can switch others (automatic exposure and the manual one).

#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "platform/v4l2/V4l2Controls.h"

class QFormLayout;
class QLabel;

namespace torvane {

class CCameraControlsDlg : public QDialog {
    Q_OBJECT
public:
    // `controls` is the device's control set (the real device or a stand-in); `caption` the webcam's name.
    CCameraControlsDlg(std::shared_ptr<v4l2::ControlSet> controls, const QString& caption, QWidget* parent);

    // Rows made (the controls the dialog can show); a row is hidden while the device disables it.
    int rowCount() const { return int(rows_.size()); }
    // The last failure to read or set, empty when none (also shown in the dialog).
    const QString& lastError() const { return lastError_; }

private:
    struct Row {
        v4l2::Control control;
        QWidget* editor;
    };
    void apply(uint32_t id, int32_t value);
    // Reads every control's state and value again and shows them.
    void reread();
    QWidget* editorFor(const v4l2::Control& c, int32_t value);
    // Shows `value` in `row`'s editor without setting it in the device again.
    static void showValue(const Row& row, int32_t value);
    static bool editable(const v4l2::Control& c) { return !c.readOnly && !c.grabbed && !c.inactive; }

    std::shared_ptr<v4l2::ControlSet> set_;
    std::vector<Row> rows_;
    QFormLayout* form_;
    QLabel* status_;
    QString lastError_;
};

// Opens the dialog for the V4L2 node `path` modally; a message names the reason when it cannot.
void runCameraControls(QWidget* parent, const std::string& path, const QString& caption);

}  // namespace torvane
