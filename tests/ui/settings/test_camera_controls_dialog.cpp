// The webcam's own controls dialog over a control set of this process: what it lists, and that
// each change reaches the device at once.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <map>

#include "DialogTestSupport.h"
#include "webcam/CameraControlsDlg.h"

using namespace torvane;

namespace {

class FakeControls : public v4l2::ControlSet {
public:
    bool list(std::vector<v4l2::Control>& out, std::string& error) override {
        out = controls;
        if (!listError.empty()) error = listError;
        return listError.empty();
    }
    bool get(uint32_t id, int32_t& value, std::string& error) override {
        if (unreadable == id) {
            error = "the value cannot be read: Input/output error";
            return false;
        }
        value = values[id];
        return true;
    }
    bool set(uint32_t id, int32_t value, std::string& error) override {
        if (refused == id) {
            error = "the value cannot be set: Invalid argument";
            return false;
        }
        sets.push_back({id, value});
        values[id] = value;
        return true;
    }
    std::vector<v4l2::Control> controls;
    std::map<uint32_t, int32_t> values;
    std::vector<std::pair<uint32_t, int32_t>> sets;
    std::string listError;
    uint32_t unreadable = 0, refused = 0;
};

v4l2::Control control(uint32_t id, const char* name, v4l2::ControlKind kind, int32_t min, int32_t max) {
    v4l2::Control c;
    c.id = id;
    c.name = name;
    c.kind = kind;
    c.minimum = min;
    c.maximum = max;
    return c;
}

template <class T>
T* find(QWidget* dlg, const QString& name) {
    auto* w = dlg->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name.toStdString();
    return w;
}

}  // namespace

TEST(CameraControlsDialog, EachKindIsShownWithItsValueAndEveryChangeIsSetAtOnce) {
    auto fake = std::make_shared<FakeControls>();
    auto brightness = control(1, "Brightness", v4l2::ControlKind::Integer, -64, 64);
    auto autoWhite = control(2, "White Balance, Automatic", v4l2::ControlKind::Boolean, 0, 1);
    auto power = control(3, "Power Line Frequency", v4l2::ControlKind::Menu, 0, 2);
    power.menu = {{0, "Disabled"}, {2, "60 Hz"}};   // index 1 left out by the driver
    auto exposure = control(4, "Exposure Time, Absolute", v4l2::ControlKind::Integer, 1, 5000);
    exposure.readOnly = true;
    auto broken = control(5, "Gain", v4l2::ControlKind::Integer, 0, 255);
    fake->controls = {brightness, autoWhite, power, exposure, broken};
    fake->values = {{1, 10}, {2, 1}, {3, 2}, {4, 300}};
    fake->unreadable = 5;
    fake->refused = 3;

    CCameraControlsDlg dlg(fake, QStringLiteral("USB Camera"), nullptr);
    EXPECT_EQ(dlg.windowTitle(), "USB Camera");
    EXPECT_EQ(dlg.rowCount(), 4);   // the unreadable one left out, and said
    EXPECT_EQ(dlg.lastError(), "Gain: the value cannot be read: Input/output error");
    EXPECT_TRUE(fake->sets.empty());   // opening sets nothing

    auto* value = find<QSpinBox>(&dlg, "control_1_value");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->value(), 10);
    EXPECT_EQ(value->minimum(), -64);
    auto* slider = find<QWidget>(&dlg, "control_1")->findChild<QSlider*>();
    ASSERT_NE(slider, nullptr);
    slider->setValue(-20);
    EXPECT_EQ(value->value(), -20);
    auto* box = find<QCheckBox>(&dlg, "control_2");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isChecked());
    box->click();
    EXPECT_EQ(fake->sets, (std::vector<std::pair<uint32_t, int32_t>>{{1, -20}, {2, 0}}));
    EXPECT_TRUE(dlg.lastError().isEmpty());

    auto* menu = find<QComboBox>(&dlg, "control_3");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->count(), 2);
    EXPECT_EQ(menu->currentText(), "60 Hz");
    menu->setCurrentIndex(0);
    emit menu->activated(0);
    EXPECT_EQ(dlg.lastError(), "Power Line Frequency: the value cannot be set: Invalid argument");
    EXPECT_EQ(find<QLabel>(&dlg, "status")->text(), dlg.lastError());

    EXPECT_FALSE(find<QWidget>(&dlg, "control_4")->isEnabled());
}

TEST(CameraControlsDialog, NoControlsOrAFailedListSaysSo) {
    auto fake = std::make_shared<FakeControls>();
    CCameraControlsDlg empty(fake, QString(), nullptr);
    EXPECT_EQ(empty.rowCount(), 0);
    EXPECT_EQ(empty.lastError(), "This webcam has no settings.");

    fake->listError = "the controls cannot be listed";
    fake->controls = {control(1, "Brightness", v4l2::ControlKind::Integer, 0, 1)};
    CCameraControlsDlg failed(fake, QString(), nullptr);
    EXPECT_EQ(failed.rowCount(), 0);
    EXPECT_EQ(failed.lastError(), "the controls cannot be listed");
}

TEST(CameraControlsDialog, ANodeThatIsNoCameraGivesAMessageAndNoDialog) {
    dialogtest::MessageBoxes boxes;
    runCameraControls(nullptr, "/dev/null", QStringLiteral("Null"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "The settings of the webcam cannot be opened: /dev/null is not a V4L2 device.");
}
