// The "Webcam" and "Picture in Picture Settings" dialogs on cameras listed by the device monitor
// (a provider of this process), and the two buttons of the movie properties dialog that open them.

#include <QLabel>
#include <QSettings>

#include "DialogTestSupport.h"
#include "TestCameraProvider.h"
#include "settings/CNewCaptureDlg.h"
#include "settings/CPipSettingDlg.h"
#include "settings/CWebcamSettingDlg.h"
#include "settings/SettingsStore.h"

using namespace dialogtest;
using namespace torvane;

namespace {

using W = CWebcamSettingDlg;
using P = CPipSettingDlg;

const char* kUsbSizes =
    "video/x-raw,format=YUY2,width=640,height=480; video/x-raw,format=YUY2,width=320,height=240; "
    "video/x-raw,format=MJPG,width=640,height=480; video/x-raw,format=YUY2,width=160,height=120";
const char* kHdSizes = "video/x-raw,width=1920,height=1080; video/x-raw,width=1280,height=720; video/x-raw,width=640,height=480";

WebcamSettings webcam(const std::string& name, int w, int h) {
    WebcamSettings s;
    toUtf16Field(name, s.deviceName, std::size(s.deviceName));
    s.width = uint16_t(w);
    s.height = uint16_t(h);
    return s;
}

QStringList items(QWidget* dlg, int id) {
    QStringList list;
    if (auto* c = control<QComboBox>(dlg, id))
        for (int i = 0; i < c->count(); ++i) list << c->itemText(i);
    return list;
}

QString label(QWidget* dlg, int id) {
    auto* l = control<QLabel>(dlg, id);
    return l ? l->text() : QString();
}

class WebcamDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(registerTestCameraProvider());
        testCameras() = {{"USB Camera", kUsbSizes, "", ""}, {"HD Camera", kHdSizes, "", ""}};
    }
    void TearDown() override { testCameras().clear(); }
};

}  // namespace

TEST_F(WebcamDialogTest, TheStoredSizeIsSelectedAgainAndLookedForOnEveryCamera) {
    const WebcamSettings stored = webcam("HD Camera", 640, 480);
    W dlg(nullptr, &stored);
    EXPECT_EQ(dlg.windowTitle(), "Webcam");
    EXPECT_EQ(items(&dlg, W::IDC_WEBCAM_SOURCE), (QStringList{"USB Camera", "HD Camera"}));
    EXPECT_EQ(comboText(&dlg, W::IDC_WEBCAM_SOURCE), "HD Camera");
    // Over 1280 x 720 left out; the stored size chosen over the first entry.
    EXPECT_EQ(items(&dlg, W::IDC_WEBCAM_RESOLUTION), (QStringList{"1280X720", "640X480"}));
    EXPECT_EQ(comboText(&dlg, W::IDC_WEBCAM_RESOLUTION), "640X480");

    // Another camera: each size once in its order, and the stored size still looked for.
    choose(&dlg, W::IDC_WEBCAM_SOURCE, 0);
    EXPECT_EQ(items(&dlg, W::IDC_WEBCAM_RESOLUTION), (QStringList{"640X480", "320X240", "160X120"}));
    EXPECT_EQ(comboText(&dlg, W::IDC_WEBCAM_RESOLUTION), "640X480");
    choose(&dlg, W::IDC_WEBCAM_RESOLUTION, 1);
    click(&dlg, IDOK);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.deviceName(), "USB Camera");
    EXPECT_EQ(dlg.resolution(), 240u * 65536u + 320u);

    WebcamSettings out = stored;
    storeWebcamChoice(out, dlg.deviceName(), dlg.resolution());
    EXPECT_EQ(fromUtf16Field(out.deviceName, 200), "USB Camera");
    EXPECT_EQ(out.width, 320);
    EXPECT_EQ(out.height, 240);
}

TEST_F(WebcamDialogTest, ASizeNoLongerOfferedFallsBackToTheSmallestOrTheFirst) {
    const WebcamSettings usb = webcam("USB Camera", 800, 600);
    W a(nullptr, &usb);
    EXPECT_EQ(comboText(&a, W::IDC_WEBCAM_RESOLUTION), "160X120");
    const WebcamSettings hd = webcam("HD Camera", 800, 600);
    W b(nullptr, &hd);
    EXPECT_EQ(comboText(&b, W::IDC_WEBCAM_RESOLUTION), "1280X720");
    // A stored camera that is gone: the first camera.
    const WebcamSettings gone = webcam("Old Camera", 640, 480);
    W c(nullptr, &gone);
    EXPECT_EQ(comboText(&c, W::IDC_WEBCAM_SOURCE), "USB Camera");
    EXPECT_EQ(comboText(&c, W::IDC_WEBCAM_RESOLUTION), "640X480");
}

TEST_F(WebcamDialogTest, APrefixNameChoosesTheCameraOfThatNameElseTheFirstItBegins) {
    testCameras() = {{"Cam HD", kUsbSizes, "", ""}, {"Cam", kUsbSizes, "", ""}, {"Cam Pro", kUsbSizes, "", ""}};
    const WebcamSettings exact = webcam("cam", 160, 120);
    W a(nullptr, &exact);
    EXPECT_EQ(comboText(&a, W::IDC_WEBCAM_SOURCE), "Cam");
    const WebcamSettings prefix = webcam("cam ", 160, 120);
    W b(nullptr, &prefix);
    EXPECT_EQ(comboText(&b, W::IDC_WEBCAM_SOURCE), "Cam HD");
    const WebcamSettings second = webcam("Cam P", 160, 120);
    W c(nullptr, &second);
    EXPECT_EQ(comboText(&c, W::IDC_WEBCAM_SOURCE), "Cam Pro");
}

TEST_F(WebcamDialogTest, WithoutACameraBothListsAreDisabledAndOkClearsTheWebcam) {
    testCameras().clear();
    const WebcamSettings stored = webcam("USB Camera", 640, 480);
    bool opened = false;
    WebcamDeviceAccess access = WebcamDeviceAccess::system();
    access.openControls = [&](QWidget*, const std::string&, const QString&) { opened = true; };
    W dlg(nullptr, &stored, access);
    EXPECT_FALSE(enabled(&dlg, W::IDC_WEBCAM_SOURCE));
    EXPECT_FALSE(enabled(&dlg, W::IDC_WEBCAM_RESOLUTION));
    EXPECT_TRUE(enabled(&dlg, W::IDC_WEBCAM_DEVICE_SETTINGS));
    click(&dlg, W::IDC_WEBCAM_DEVICE_SETTINGS);
    EXPECT_FALSE(opened);
    click(&dlg, IDOK);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.deviceName(), "");
    WebcamSettings out = stored;
    storeWebcamChoice(out, dlg.deviceName(), dlg.resolution());
    EXPECT_EQ(out.deviceName[0], u'\0');
    EXPECT_EQ(out.width, 0);
    EXPECT_EQ(out.height, 0);
}

TEST_F(WebcamDialogTest, ACameraWithoutAUsableSizeGivesNoWebcamAndCancelGivesNothing) {
    testCameras() = {{"Big Camera", "video/x-raw,width=1920,height=1080", "", ""}};
    W dlg(nullptr, nullptr);
    EXPECT_TRUE(enabled(&dlg, W::IDC_WEBCAM_SOURCE));
    EXPECT_TRUE(items(&dlg, W::IDC_WEBCAM_RESOLUTION).isEmpty());
    click(&dlg, IDOK);
    EXPECT_EQ(dlg.deviceName(), "");

    W cancelled(nullptr, nullptr);
    click(&cancelled, IDCANCEL);
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
}

TEST_F(WebcamDialogTest, SettingsIsEnabledOnlyForACameraNodeWithControls) {
    testCameras() = {{"V4L2 Camera", kUsbSizes, "/dev/video-test", ""}, {"Null Camera", kUsbSizes, "/dev/null", ""},
                     {"Network Camera", kUsbSizes, "", ""}};
    std::vector<std::string> asked;
    std::string openedPath;
    QString openedCaption;
    WebcamDeviceAccess access = WebcamDeviceAccess::system();
    const auto realCheck = access.hasControls;
    access.hasControls = [&](const std::string& path) {
        asked.push_back(path);
        return path == "/dev/video-test" || realCheck(path);
    };
    access.openControls = [&](QWidget*, const std::string& path, const QString& caption) {
        openedPath = path;
        openedCaption = caption;
    };
    W dlg(nullptr, nullptr, access);
    EXPECT_TRUE(enabled(&dlg, W::IDC_WEBCAM_DEVICE_SETTINGS));
    click(&dlg, W::IDC_WEBCAM_DEVICE_SETTINGS);
    EXPECT_EQ(openedPath, "/dev/video-test");
    EXPECT_EQ(openedCaption, "V4L2 Camera");
    choose(&dlg, W::IDC_WEBCAM_SOURCE, 1);   // a node that is no camera: the real check says no
    EXPECT_FALSE(enabled(&dlg, W::IDC_WEBCAM_DEVICE_SETTINGS));
    choose(&dlg, W::IDC_WEBCAM_SOURCE, 2);   // no node at all: not even asked
    EXPECT_FALSE(enabled(&dlg, W::IDC_WEBCAM_DEVICE_SETTINGS));
    EXPECT_EQ(asked, (std::vector<std::string>{"/dev/video-test", "/dev/null"}));
}

TEST_F(WebcamDialogTest, PictureInPictureShowsTheWebcamAndItsButtonChangesItAtOnce) {
    WebcamSettings working;   // no webcam chosen
    PipSettings pip;
    pip.position = 7;
    P dlg(nullptr, &pip, &working);
    EXPECT_EQ(dlg.windowTitle(), "Picture in Picture Settings");
    EXPECT_EQ(findControl(&dlg, IDCANCEL), nullptr);
    EXPECT_EQ(label(&dlg, P::IDC_PIP_SOURCE), "");
    EXPECT_EQ(label(&dlg, P::IDC_PIP_RESOLUTION), "0x0");
    EXPECT_EQ(items(&dlg, P::IDC_PIP_POSITION),
              (QStringList{"Top Left", "Top Right", "Top Center", "Bottom Left", "Bottom Right", "Bottom Center",
                           "Middle Left", "Middle Right", "Middle Center"}));
    EXPECT_EQ(comboText(&dlg, P::IDC_PIP_POSITION), "Middle Right");
    EXPECT_FALSE(enabled(&dlg, P::IDC_PIP_POSITION));
    EXPECT_FALSE(enabled(&dlg, P::IDC_PIP_WEBCAM_SETTINGS));
    click(&dlg, P::IDC_PIP_ON);
    EXPECT_TRUE(enabled(&dlg, P::IDC_PIP_POSITION));
    EXPECT_TRUE(enabled(&dlg, P::IDC_PIP_WEBCAM_SETTINGS));

    // The real webcam dialog, run from this one on the caller's working copy.
    whenModal([](QDialog* webcamDlg) {
        EXPECT_EQ(webcamDlg->windowTitle(), "Webcam");
        choose(webcamDlg, W::IDC_WEBCAM_SOURCE, 1);
        click(webcamDlg, IDOK);
    }, &dlg);
    click(&dlg, P::IDC_PIP_WEBCAM_SETTINGS);
    EXPECT_EQ(fromUtf16Field(working.deviceName, 200), "HD Camera");
    EXPECT_EQ(label(&dlg, P::IDC_PIP_SOURCE), "HD Camera");
    EXPECT_EQ(label(&dlg, P::IDC_PIP_RESOLUTION), "1280x720");

    choose(&dlg, P::IDC_PIP_POSITION, 4);
    click(&dlg, IDOK);
    ASSERT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.overlayOn(), 1);
    EXPECT_EQ(dlg.position(), 4);
}

TEST_F(WebcamDialogTest, ALongSourceNameIsCutWithAnEllipsis) {
    const std::string name(120, 'W');
    WebcamSettings working = webcam(name, 640, 480);
    P dlg(nullptr, nullptr, &working);
    const QString shown = label(&dlg, P::IDC_PIP_SOURCE);
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_LT(shown.size(), int(name.size()));
    EXPECT_EQ(dlg.sourceText().toStdString(), name);
    EXPECT_EQ(label(&dlg, P::IDC_PIP_RESOLUTION), "640x480");
}

TEST_F(WebcamDialogTest, TheMoviePropertiesButtonsOpenBothDialogsAndEscapeKeepsTheWebcamChange) {
    {
        auto store = openSettingsStore();
        store->clear();
        store->sync();
    }
    VideoDeviceQuery devices;
    devices.anyDevice = [] { return true; };
    CNewCaptureDlg dlg(nullptr, nullptr, devices);
    dlg.systemSoundAvailable = [] { return true; };
    dlg.chooseRecordingLine = [](int) {};
    dlg.screenGeometry = [](ScreenRect& screen, ScreenRect& work, std::string&) {
        screen = work = {0, 0, 1280, 720};
        return true;
    };
    MessageBoxes boxes;
    whenActive(&dlg, [&] {
        // "Webcam Settings": the real dialog, its answer in the working copy.
        whenModal([](QDialog* w) {
            EXPECT_EQ(w->windowTitle(), "Webcam");
            choose(w, W::IDC_WEBCAM_RESOLUTION, 1);   // USB Camera 320X240
            click(w, IDOK);
        }, &dlg);
        click(&dlg, CNewCaptureDlg::IDC_WEBCAM_SETTINGS);
        EXPECT_EQ(fromUtf16Field(dlg.settings().webcam.deviceName, 200), "USB Camera");
        EXPECT_EQ(dlg.settings().webcam.width, 320);

        // "Configure Presenter Video": its webcam change stays although it is left with Escape.
        whenModal([&dlg](QDialog* p) {
            EXPECT_EQ(p->windowTitle(), "Picture in Picture Settings");
            EXPECT_EQ(label(p, P::IDC_PIP_RESOLUTION), "320x240");
            click(p, P::IDC_PIP_ON);
            whenModal([](QDialog* w) {
                choose(w, W::IDC_WEBCAM_SOURCE, 1);
                click(w, IDOK);
            }, p);
            click(p, P::IDC_PIP_WEBCAM_SETTINGS);
            p->reject();
        }, &dlg);
        click(&dlg, CNewCaptureDlg::IDC_PRESENTER_VIDEO);
        EXPECT_EQ(fromUtf16Field(dlg.settings().webcam.deviceName, 200), "HD Camera");
        EXPECT_EQ(dlg.settings().pip.on, 0);

        // OK there: on, at its position, its size reset until the movie properties' OK.
        whenModal([](QDialog* p) {
            click(p, P::IDC_PIP_ON);
            choose(p, P::IDC_PIP_POSITION, 2);
            click(p, IDOK);
        }, &dlg);
        click(&dlg, CNewCaptureDlg::IDC_PRESENTER_VIDEO);
        EXPECT_EQ(dlg.settings().pip.on, 1);
        EXPECT_EQ(dlg.settings().pip.position, 2);
        EXPECT_EQ(dlg.settings().pip.width, 0);
        EXPECT_EQ(dlg.settings().pip.marginY, 10);
        click(&dlg, IDOK);
    });
    ASSERT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(dlg.settings().pip.width, 1280);
    EXPECT_EQ(dlg.settings().pip.height, 720);
}
