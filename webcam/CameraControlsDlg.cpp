#include "webcam/CameraControlsDlg.h"

#include <algorithm>

#include <QCheckBox>
#include <QSignalBlocker>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/ui/MessageBox.h"

namespace torvane {

namespace {
QString controlObjectName(uint32_t id) { return QStringLiteral("control_%1").arg(id); }
}  // namespace

CCameraControlsDlg::CCameraControlsDlg(std::shared_ptr<v4l2::ControlSet> controls, const QString& caption,
                                       QWidget* parent)
    : QDialog(parent), set_(std::move(controls)) {
    setWindowTitle(caption.isEmpty() ? QStringLiteral("Webcam") : caption);
    setObjectName(QStringLiteral("IDD_CAMERA_CONTROLS"));
    form_ = new QFormLayout;
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("status"));
    status_->setWordWrap(true);

    std::string error;
    std::vector<v4l2::Control> all;
    if (!set_ || !set_->list(all, error)) {
        lastError_ = QString::fromStdString(error.empty() ? std::string("The controls cannot be read.") : error);
        all.clear();
    }
    for (const auto& c : all) {
        int32_t value = c.defaultValue;
        if (c.kind != v4l2::ControlKind::Button && !set_->get(c.id, value, error)) {
            lastError_ = QString::fromStdString(c.name + ": " + error);
            continue;
        }
        QWidget* editor = editorFor(c, value);
        editor->setEnabled(editable(c));
        rows_.push_back({c, editor});
        form_->addRow(QString::fromStdString(c.name) + QStringLiteral(" :"), editor);
    }
    if (rows_.empty() && lastError_.isEmpty()) lastError_ = QStringLiteral("This webcam has no settings.");
    status_->setText(lastError_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form_);
    top->addWidget(status_);
    top->addWidget(buttons);
}

QWidget* CCameraControlsDlg::editorFor(const v4l2::Control& c, int32_t value) {
    QWidget* editor = nullptr;
    const uint32_t id = c.id;
    switch (c.kind) {
    case v4l2::ControlKind::Boolean: {
        auto* box = new QCheckBox;
        box->setChecked(value != 0);
        connect(box, &QCheckBox::toggled, this, [this, id](bool on) { apply(id, on ? 1 : 0); });
        editor = box;
        break;
    }
    case v4l2::ControlKind::Menu:
    case v4l2::ControlKind::IntegerMenu: {
        auto* list = new QComboBox;
        for (const auto& item : c.menu) {
            list->addItem(QString::fromStdString(item.text), item.index);
            if (item.index == value) list->setCurrentIndex(list->count() - 1);
        }
        connect(list, &QComboBox::activated, this, [this, id, list](int i) { apply(id, list->itemData(i).toInt()); });
        editor = list;
        break;
    }
    case v4l2::ControlKind::Button: {
        auto* button = new QPushButton(QStringLiteral("Do"));
        connect(button, &QPushButton::clicked, this, [this, id] { apply(id, 1); });
        editor = button;
        break;
    }
    case v4l2::ControlKind::Integer: {
        // A slider to move, a number to type; the device gets each value as it comes.
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* slider = new QSlider(Qt::Horizontal);
        auto* spin = new QSpinBox;
        slider->setRange(c.minimum, c.maximum);
        slider->setSingleStep(c.step);
        slider->setValue(value);
        spin->setRange(c.minimum, c.maximum);
        spin->setSingleStep(c.step);
        spin->setValue(value);
        spin->setObjectName(controlObjectName(id) + QStringLiteral("_value"));
        connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
        connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
        connect(spin, &QSpinBox::valueChanged, this, [this, id](int v) { apply(id, v); });
        layout->addWidget(slider, 1);
        layout->addWidget(spin);
        editor = row;
        break;
    }
    }
    editor->setObjectName(controlObjectName(id));
    editor->setProperty("controlId", QVariant::fromValue(id));
    return editor;
}

void CCameraControlsDlg::apply(uint32_t id, int32_t value) {
    std::string error;
    if (set_->set(id, value, error)) {
        lastError_.clear();
    } else {
        std::string name;
        for (const auto& row : rows_)
            if (row.control.id == id) name = row.control.name;
        lastError_ = QString::fromStdString(name + ": " + error);
    }
    // Also after a refusal: the editor then goes back to what the device kept.
    reread();
    status_->setText(lastError_);
}

void CCameraControlsDlg::reread() {
    std::vector<v4l2::Control> now;
    std::string error;
    if (!set_->list(now, error)) {
        if (lastError_.isEmpty()) lastError_ = QString::fromStdString(error);
        return;
    }
    for (auto& row : rows_) {
        const auto it = std::find_if(now.begin(), now.end(), [&](const v4l2::Control& c) { return c.id == row.control.id; });
        // The device no longer lists a control it has disabled.
        form_->setRowVisible(row.editor, it != now.end());
        if (it == now.end()) continue;
        row.control = *it;
        row.editor->setEnabled(editable(row.control));
        int32_t value = 0;
        if (row.control.kind == v4l2::ControlKind::Button) continue;
        if (set_->get(row.control.id, value, error)) showValue(row, value);
        else if (lastError_.isEmpty()) lastError_ = QString::fromStdString(row.control.name + ": " + error);
    }
}

void CCameraControlsDlg::showValue(const Row& row, int32_t value) {
    switch (row.control.kind) {
    case v4l2::ControlKind::Boolean: {
        auto* box = static_cast<QCheckBox*>(row.editor);
        const QSignalBlocker quiet(box);
        box->setChecked(value != 0);
        break;
    }
    case v4l2::ControlKind::Menu:
    case v4l2::ControlKind::IntegerMenu: {
        auto* list = static_cast<QComboBox*>(row.editor);
        list->setCurrentIndex(list->findData(value));
        break;
    }
    case v4l2::ControlKind::Integer: {
        auto* slider = row.editor->findChild<QSlider*>();
        auto* spin = row.editor->findChild<QSpinBox*>();
        const QSignalBlocker quietSlider(slider), quietSpin(spin);
        slider->setValue(value);
        spin->setValue(value);
        break;
    }
    case v4l2::ControlKind::Button: break;
    }
}

void runCameraControls(QWidget* parent, const std::string& path, const QString& caption) {
    std::string error;
    std::shared_ptr<v4l2::ControlSet> device = v4l2::openControls(path, error);
    if (!device) {
        ui::messageBox(parent, QStringLiteral("The settings of the webcam cannot be opened: %1.").arg(QString::fromStdString(error)),
                       {}, ui::MB_OK | ui::MB_ICONERROR);
        return;
    }
    CCameraControlsDlg dlg(std::move(device), caption, parent);
    dlg.move(parent ? parent->mapToGlobal(QPoint(30, 30)) : QPoint(30, 30));
    dlg.exec();
}

}  // namespace torvane
