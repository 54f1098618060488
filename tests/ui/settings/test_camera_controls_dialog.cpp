// The webcam's own controls dialog over a control set of this process: what it lists, that each
// change reaches the device at once, and that it shows the state the device gives each control.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <map>

#include "DialogTestSupport.h"
#include "FakeV4l2Node.h"
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

// Through the platform's V4L2 device over a driver of this process.
TEST(CameraControlsDialog, ControlsTheDeviceCannotTakeAreDisabledAndEveryChangeIsReadBack) {
    auto node = std::make_unique<v4l2::fake::FakeNode>();
    v4l2::fake::FakeNode* driver = node.get();
    auto device = std::make_shared<v4l2::V4l2Device>(std::move(node));
    CCameraControlsDlg dlg(device, QStringLiteral("USB Camera"), nullptr);
    EXPECT_EQ(dlg.rowCount(), 5);   // the disabled pan and the class heading are not rows
    EXPECT_TRUE(dlg.lastError().isEmpty()) << dlg.lastError().toStdString();
    EXPECT_EQ(dlg.findChild<QWidget*>(QStringLiteral("control_%1").arg(v4l2::fake::kPan)), nullptr);
    auto row = [&](uint32_t id) { return find<QWidget>(&dlg, QStringLiteral("control_%1").arg(id)); };
    auto* time = row(v4l2::fake::kExposureTime);
    ASSERT_NE(time, nullptr);
    EXPECT_TRUE(row(v4l2::fake::kBrightness)->isEnabled());
    EXPECT_TRUE(row(v4l2::fake::kExposureAuto)->isEnabled());
    EXPECT_FALSE(time->isEnabled());                              // inactive
    EXPECT_FALSE(row(v4l2::fake::kFocusReading)->isEnabled());   // read-only
    EXPECT_FALSE(row(v4l2::fake::kPowerLine)->isEnabled());      // grabbed

    // Automatic exposure off: the manual time becomes settable, with the value the device gives it.
    auto* automatic = find<QComboBox>(&dlg, QStringLiteral("control_%1").arg(v4l2::fake::kExposureAuto));
    ASSERT_NE(automatic, nullptr);
    EXPECT_EQ(automatic->currentText(), "Aperture Priority Mode");
    automatic->setCurrentIndex(0);
    emit automatic->activated(0);
    EXPECT_EQ(driver->controls.at(v4l2::fake::kExposureAuto).value, 1);
    EXPECT_TRUE(time->isEnabled());
    auto* timeValue = find<QSpinBox>(&dlg, QStringLiteral("control_%1_value").arg(v4l2::fake::kExposureTime));
    ASSERT_NE(timeValue, nullptr);
    EXPECT_EQ(timeValue->value(), 500);
    EXPECT_EQ(time->findChild<QSlider*>()->value(), 500);
    timeValue->setValue(800);
    EXPECT_EQ(driver->controls.at(v4l2::fake::kExposureTime).value, 800);
    automatic->setCurrentIndex(1);
    emit automatic->activated(1);
    EXPECT_FALSE(time->isEnabled());

    // The device takes a control away, or holds one, after the dialog opened: a refused change
    // says why and the row shows what the device kept; the vanished row is hidden.
    driver->controls.at(v4l2::fake::kBrightness).query.flags |= V4L2_CTRL_FLAG_GRABBED;
    driver->controls.at(v4l2::fake::kExposureTime).query.flags |= V4L2_CTRL_FLAG_DISABLED;
    auto* brightness = find<QSpinBox>(&dlg, QStringLiteral("control_%1_value").arg(v4l2::fake::kBrightness));
    ASSERT_NE(brightness, nullptr);
    brightness->setValue(30);
    EXPECT_EQ(dlg.lastError(), "Brightness: the value cannot be set: Device or resource busy");
    EXPECT_EQ(brightness->value(), 10);
    EXPECT_FALSE(row(v4l2::fake::kBrightness)->isEnabled());
    EXPECT_TRUE(time->isHidden());
    EXPECT_FALSE(row(v4l2::fake::kFocusReading)->isHidden());
}
