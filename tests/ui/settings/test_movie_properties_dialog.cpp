#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>

#include "DialogTestSupport.h"
#include "settings/CNewCaptureDlg.h"
#include "settings/CScreenCapSettingDlg.h"
#include "settings/CCursorSettingDlg.h"
#include "settings/CWatermarkSettingDlg.h"
#include "settings/CSelectRegionDlg.h"
#include "settings/DlgUpDownCtrl.h"
#include "settings/SettingsStore.h"

using namespace dialogtest;
using namespace torvane;

namespace {

using D = CNewCaptureDlg;

VideoDeviceQuery oneDeviceWithoutDefault() {
    VideoDeviceQuery q;
    q.anyDevice = [] { return true; };
    return q;
}

class MoviePropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto store = openSettingsStore();
        store->clear();
        store->sync();
    }

    // A dialog with a fixed 1280 x 720 screen whose work area leaves out a 25-pixel top panel
    // and 3 pixels on the right.
    std::unique_ptr<D> makeDialog(QWidget* parent = nullptr, VideoDeviceQuery devices = {}) {
        auto dlg = std::make_unique<D>(parent, nullptr, std::move(devices));
        dlg->screenGeometry = [](ScreenRect& screen, ScreenRect& work, std::string&) {
            screen = {0, 0, 1280, 720};
            work = {0, 25, 1277, 720};
            return true;
        };
        dlg->chooseSaveFile = [this](QWidget*) { return saveAnswer; };
        // The machine's own sound devices stay out of these tests.
        dlg->systemSoundAvailable = [] { return true; };
        dlg->chooseRecordingLine = [](int) {};
        return dlg;
    }

    // Runs `dlg` modally, `interact` acting on it once it is shown.
    int run(D& dlg, std::function<void(D*)> interact) {
        whenActive(&dlg, [&] { interact(&dlg); });
        return dlg.exec();
    }

    static CaptureSettings stored(const VideoDeviceQuery& devices = {}) {
        auto store = openSettingsStore();
        return loadCaptureSettings(*store, devices);
    }
    static bool anythingStored() {
        auto store = openSettingsStore();
        return store->contains("MovieProperty/Screen") || store->contains("MovieProperty/SoundCapture");
    }

    QString saveAnswer;
    MessageBoxes boxes;
};

}  // namespace

TEST_F(MoviePropertiesTest, FirstRunShowsTheDefaultsAndCancelStoresNothing) {
    auto dlg = makeDialog();
    const int result = run(*dlg, [](D* d) {
        EXPECT_EQ(d->windowTitle(), "Movie Properties");
        EXPECT_TRUE(checked(d, D::IDC_FULL_SCREEN));
        EXPECT_TRUE(checked(d, D::IDC_RECORD_AUDIO));
        EXPECT_TRUE(checked(d, D::IDC_SOUND_MICROPHONE));
        EXPECT_EQ(text(d, D::IDC_FILE_NAME).toStdString(), defaultCaptureFileName());
        EXPECT_TRUE(control<QLineEdit>(d, D::IDC_FILE_NAME)->isReadOnly());
        // No video device: the webcam choices are off, their settings button stays usable.
        EXPECT_FALSE(enabled(d, D::IDC_WEBCAM_ONLY));
        EXPECT_FALSE(enabled(d, D::IDC_PRESENTER_VIDEO));
        EXPECT_TRUE(enabled(d, D::IDC_WEBCAM_SETTINGS));
        EXPECT_TRUE(enabled(d, D::IDC_SOUND_SYSTEM));
        EXPECT_TRUE(enabled(d, D::IDC_SOUND_BOTH));
        click(d, D::IDC_LIVE_SESSION);
        click(d, IDCANCEL);
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_FALSE(anythingStored());
}

TEST_F(MoviePropertiesTest, SoundRuleAndUnavailableSystemSoundKeepsTheStoredOption) {
    {
        CaptureSettings s;
        s.soundOption = kSoundSystem;
        auto store = openSettingsStore();
        saveCaptureSettings(*store, s);
    }
    auto dlg = makeDialog();
    dlg->systemSoundAvailable = [] { return false; };
    std::vector<int> lines;
    dlg->chooseRecordingLine = [&](int option) { lines.push_back(option); };
    const int result = run(*dlg, [](D* d) {
        EXPECT_TRUE(checked(d, D::IDC_SOUND_SYSTEM));   // still selected while disabled
        EXPECT_FALSE(enabled(d, D::IDC_SOUND_SYSTEM));
        EXPECT_FALSE(enabled(d, D::IDC_SOUND_BOTH));
        EXPECT_TRUE(enabled(d, D::IDC_SOUND_MICROPHONE));
        click(d, D::IDC_RECORD_AUDIO);   // off
        for (int id : {D::IDC_SOUND_MICROPHONE, D::IDC_SOUND_SYSTEM, D::IDC_SOUND_BOTH, D::IDC_MIC_SETTINGS})
            EXPECT_FALSE(enabled(d, id)) << id;
        click(d, D::IDC_RECORD_AUDIO);   // on again
        EXPECT_TRUE(enabled(d, D::IDC_SOUND_MICROPHONE));
        EXPECT_TRUE(enabled(d, D::IDC_MIC_SETTINGS));
        EXPECT_FALSE(enabled(d, D::IDC_SOUND_SYSTEM));
        click(d, IDOK);
    });
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(stored().soundOption, kSoundSystem);
    EXPECT_EQ(stored().soundEnabled, 1);
}

TEST_F(MoviePropertiesTest, EverySoundChoiceClickChoosesTheRecordingLine) {
    auto dlg = makeDialog();
    std::vector<int> lines;
    dlg->chooseRecordingLine = [&](int option) { lines.push_back(option); };
    run(*dlg, [](D* d) {
        click(d, D::IDC_SOUND_SYSTEM);
        click(d, D::IDC_SOUND_BOTH);
        click(d, D::IDC_SOUND_BOTH);
        click(d, D::IDC_SOUND_MICROPHONE);
        click(d, IDOK);
    });
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 2, 0}));
    EXPECT_EQ(stored().soundOption, kSoundMicrophone);
}

TEST_F(MoviePropertiesTest, AreaSelectionHidesBothWindowsAndTakesTheNormalisedArea) {
    // The recorder window is itself a modal dialog; hiding it must not end it.
    QDialog recorder;
    int selections = 0;
    int result = -1;
    whenModal([&](QDialog*) {
        auto dlg = makeDialog(&recorder);
        result = run(*dlg, [&](D* d) {
            // A click without a drag: 200 x 200 at the point.
            whenModal(
                [&](QDialog* sel) {
                    ++selections;
                    EXPECT_FALSE(d->isVisible());
                    EXPECT_FALSE(recorder.isVisible());
                    sendMouse(sel, QEvent::MouseButtonPress, {100, 50}, Qt::LeftButton, Qt::LeftButton);
                    sendMouse(sel, QEvent::MouseButtonRelease, {100, 50}, Qt::LeftButton, Qt::NoButton);
                },
                d);
            click(d, D::IDC_SCREEN_AREA);
            EXPECT_TRUE(d->isVisible());
            EXPECT_TRUE(recorder.isVisible());
            EXPECT_TRUE(checked(d, D::IDC_SCREEN_AREA));

            // Selecting the already selected choice opens the selection again; cancelling it goes
            // back to full screen.
            whenModal([&](QDialog* sel) {
                ++selections;
                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(sel, &esc);
            }, d);
            click(d, D::IDC_SCREEN_AREA);
            EXPECT_TRUE(checked(d, D::IDC_FULL_SCREEN));
            EXPECT_TRUE(d->isVisible());

            // A 250 x 200 drag: stored 252 wide.
            whenModal([&](QDialog* sel) {
                ++selections;
                drag(sel, {600, 500}, {350, 300});
            }, d);
            click(d, D::IDC_SCREEN_AREA);
            click(d, IDOK);
        });
        EXPECT_EQ(dlg->settings().screen.rect, stored().screen.rect);
        recorder.done(7);
    });
    EXPECT_EQ(recorder.exec(), 7);   // ended by its own done(), not by being hidden
    EXPECT_EQ(selections, 3);
    ASSERT_EQ(result, QDialog::Accepted);
    const CaptureSettings s = stored();
    EXPECT_EQ(s.screen.sourceKind, kSourceArea);
    EXPECT_EQ(s.screen.rect, (ScreenRect{350, 300, 602, 500}));
    EXPECT_EQ(s.screen.outputWidth, 252);
    EXPECT_EQ(s.screen.outputHeight, 200);
}

TEST_F(MoviePropertiesTest, ClickWithoutDragStoresTwoHundredSquareAtThePoint) {
    auto dlg = makeDialog();
    run(*dlg, [&](D* d) {
        whenModal([&](QDialog* sel) {
            sendMouse(sel, QEvent::MouseButtonPress, {100, 50}, Qt::LeftButton, Qt::LeftButton);
            sendMouse(sel, QEvent::MouseButtonRelease, {100, 50}, Qt::LeftButton, Qt::NoButton);
        }, d);
        click(d, D::IDC_SCREEN_AREA);
        click(d, IDOK);
    });
    EXPECT_EQ(stored().screen.rect, (ScreenRect{100, 50, 300, 250}));
}

TEST_F(MoviePropertiesTest, FullScreenWithoutTaskbarStoresTheRoundedWorkArea) {
    auto dlg = makeDialog();
    const int result = run(*dlg, [&](D* d) {
        whenModal([](QDialog* screen) {
            click(screen, CScreenCapSettingDlg::IDC_INCLUDE_TASKBAR);   // off
            choose(screen, CScreenCapSettingDlg::IDC_CAPTURE_SIZE, 2);   // 1/2
            click(screen, IDOK);
        }, d);
        click(d, D::IDC_SCREEN_SETTINGS);
        click(d, IDOK);
    });
    ASSERT_EQ(result, QDialog::Accepted);
    const CaptureSettings s = stored();
    EXPECT_EQ(s.screen.includeTaskbar, 0);
    EXPECT_EQ(s.screen.rect, (ScreenRect{0, 25, 1280, 721}));   // 1277 x 695 rounded up to 1280 x 696
    EXPECT_EQ(s.screen.outputWidth, 640);
    EXPECT_EQ(s.screen.outputHeight, 348);
}

TEST_F(MoviePropertiesTest, ExistingFileAskedAboutAndSaveDialogCancelKeepsTheDialogOpen) {
    QTemporaryDir dir;
    const QString existing = dir.filePath("old.avi");
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    {
        CaptureSettings s;
        s.fileName = existing.toStdString();
        auto store = openSettingsStore();
        saveCaptureSettings(*store, s);
        store->remove("MovieProperty/Screen");
    }
    auto dlg = makeDialog();
    const QString chosen = dir.filePath("new.avi");
    const int result = run(*dlg, [&](D* d) {
        boxes.answers = {ui::IDNO};
        saveAnswer.clear();   // the save dialog is cancelled
        click(d, IDOK);
        EXPECT_TRUE(d->isVisible());
        EXPECT_EQ(text(d, D::IDC_FILE_NAME), existing);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, "The file already exists. Do you want to overwrite it?");
        EXPECT_EQ(boxes.shown[0].type & 0x0F, ui::MB_YESNO);
        EXPECT_FALSE(openSettingsStore()->contains("MovieProperty/Screen"));

        boxes.answers = {ui::IDNO};
        saveAnswer = chosen;
        click(d, IDOK);
    });
    ASSERT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(QString::fromStdString(stored().fileName), chosen);
}

TEST_F(MoviePropertiesTest, BrowseSetsTheNameAndYesKeepsAnExistingOne) {
    QTemporaryDir dir;
    const QString existing = dir.filePath("take.avi");
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    auto dlg = makeDialog();
    run(*dlg, [&](D* d) {
        saveAnswer.clear();
        click(d, D::IDC_BROWSE);   // cancelled
        EXPECT_EQ(text(d, D::IDC_FILE_NAME).toStdString(), defaultCaptureFileName());
        saveAnswer = existing;
        click(d, D::IDC_BROWSE);
        EXPECT_EQ(text(d, D::IDC_FILE_NAME), existing);
        boxes.answers = {ui::IDYES};
        click(d, IDOK);
    });
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(QString::fromStdString(stored().fileName), existing);
}

TEST_F(MoviePropertiesTest, WebcamOnlyNeedsADeviceAndPresenterVideoFollowsTheSource) {
    auto dlg = makeDialog(nullptr, oneDeviceWithoutDefault());
    dlg->runWebcamSettings = [](QWidget*, const WebcamSettings&, std::string& name, uint32_t& res) {
        name = "USB Camera";
        res = 640u | (480u << 16);
        return true;
    };
    dlg->runPipSettings = [](QWidget*, const PipSettings&, int& on, int& position) {
        on = 1;
        position = 4;
        return true;
    };
    const int result = run(*dlg, [&](D* d) {
        EXPECT_TRUE(enabled(d, D::IDC_WEBCAM_ONLY));
        EXPECT_TRUE(enabled(d, D::IDC_PRESENTER_VIDEO));
        click(d, D::IDC_WEBCAM_ONLY);
        EXPECT_FALSE(enabled(d, D::IDC_PRESENTER_VIDEO));
        click(d, D::IDC_LIVE_SESSION);   // does not run the rule
        EXPECT_FALSE(enabled(d, D::IDC_PRESENTER_VIDEO));
        click(d, D::IDC_FULL_SCREEN);
        EXPECT_TRUE(enabled(d, D::IDC_PRESENTER_VIDEO));
        click(d, D::IDC_PRESENTER_VIDEO);
        EXPECT_EQ(d->settings().pip.on, 1);
        EXPECT_EQ(d->settings().pip.position, 4);
        EXPECT_EQ(d->settings().pip.marginX, 10);

        click(d, D::IDC_WEBCAM_ONLY);
        click(d, IDOK);
        EXPECT_TRUE(d->isVisible());
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, "Please select the video input device.");
        EXPECT_EQ(boxes.shown[0].type & 0xF0, ui::MB_ICONERROR);
        EXPECT_FALSE(anythingStored());

        click(d, D::IDC_WEBCAM_SETTINGS);
        click(d, IDOK);
    });
    ASSERT_EQ(result, QDialog::Accepted);
    const CaptureSettings s = stored(oneDeviceWithoutDefault());
    EXPECT_EQ(fromUtf16Field(s.webcam.deviceName, 200), "USB Camera");
    EXPECT_EQ(s.screen.sourceKind, kSourceWebcam);
    EXPECT_EQ(s.screen.rect, (ScreenRect{0, 0, 640, 480}));
    EXPECT_EQ(s.screen.outputWidth, 640);
    EXPECT_EQ(s.screen.outputHeight, 480);
    // The overlay takes the webcam's size on OK while it is on.
    EXPECT_EQ(s.pip.width, 640);
    EXPECT_EQ(s.pip.height, 480);
}

TEST_F(MoviePropertiesTest, WithoutAVideoDeviceAStoredWebcamSourceOpensAsFullScreen) {
    {
        CaptureSettings s;
        s.screen.sourceKind = kSourceWebcam;
        auto store = openSettingsStore();
        saveCaptureSettings(*store, s);
    }
    auto dlg = makeDialog();
    run(*dlg, [](D* d) {
        EXPECT_TRUE(checked(d, D::IDC_FULL_SCREEN));
        EXPECT_FALSE(checked(d, D::IDC_WEBCAM_ONLY));
        EXPECT_FALSE(enabled(d, D::IDC_WEBCAM_ONLY));
        click(d, IDCANCEL);
    });
}

TEST_F(MoviePropertiesTest, SubDialogChangesAreLostOnCancelAndKeptOnOk) {
    for (bool ok : {false, true}) {
        auto dlg = makeDialog();
        run(*dlg, [&](D* d) {
            whenModal([](QDialog* w) {
                setText(w, CWatermarkSettingDlg::IDC_WATERMARK_MARGIN_X, "55");
                click(w, IDOK);
            }, d);
            click(d, D::IDC_CONFIGURE_WATERMARK);
            // The screen settings' cursor dialog says OK, the screen settings Cancel.
            whenModal([d](QDialog* screen) {
                whenModal([](QDialog* cursor) {
                    choose(cursor, CCursorSettingDlg::IDC_CURSOR_TYPE, 1);
                    click(cursor, IDOK);
                }, screen);
                click(screen, CScreenCapSettingDlg::IDC_CURSOR);
                click(screen, IDCANCEL);
            }, d);
            click(d, D::IDC_SCREEN_SETTINGS);
            EXPECT_EQ(d->settings().cursor.highlightType, 0);
            click(d, ok ? IDOK : IDCANCEL);
        });
        EXPECT_EQ(stored().watermark.marginX, ok ? 55 : 0) << ok;
        EXPECT_EQ(stored().cursor.highlightType, 0);
    }
}

TEST_F(MoviePropertiesTest, ChoicesSurviveARestartAndTheStoreHoldsExactRecordSizes) {
    QTemporaryDir dir;
    const QString image = dir.filePath("logo.png");
    ASSERT_TRUE(QImage(120, 40, QImage::Format_ARGB32).save(image));
    {
        auto dlg = makeDialog();
        const int result = run(*dlg, [&](D* d) {
            click(d, D::IDC_LIVE_SESSION);
            click(d, D::IDC_SOUND_BOTH);
            click(d, D::IDC_RECORD_AUDIO);   // off
            whenModal([](QDialog* screen) {
                choose(screen, CScreenCapSettingDlg::IDC_CAPTURE_SIZE, 3);
                choose(screen, CScreenCapSettingDlg::IDC_QUALITY, 1);
                control<CUpDownCtrl>(screen, CScreenCapSettingDlg::IDC_FRAME_RATE_SPIN)->step(+1);
                control<CUpDownCtrl>(screen, CScreenCapSettingDlg::IDC_FRAME_RATE_SPIN)->step(+1);
                click(screen, CScreenCapSettingDlg::IDC_INCLUDE_TASKBAR);
                whenModal([](QDialog* cursor) {
                    choose(cursor, CCursorSettingDlg::IDC_CURSOR_TYPE, 2);
                    choose(cursor, CCursorSettingDlg::IDC_CURSOR_OPACITY, 5);
                    setText(cursor, CCursorSettingDlg::IDC_CURSOR_SIZE, "20");
                    click(cursor, IDOK);
                }, screen);
                click(screen, CScreenCapSettingDlg::IDC_CURSOR);
                click(screen, IDOK);
            }, d);
            click(d, D::IDC_SCREEN_SETTINGS);
            whenModal([&](QDialog* w) {
                static_cast<CWatermarkSettingDlg*>(w)->chooseImageFile = [&](QWidget*) { return image; };
                click(w, CWatermarkSettingDlg::IDC_INSERT_WATERMARK);
                click(w, CWatermarkSettingDlg::IDC_WATERMARK_BROWSE);
                choose(w, CWatermarkSettingDlg::IDC_WATERMARK_POSITION, 4);
                setText(w, CWatermarkSettingDlg::IDC_WATERMARK_MARGIN_X, "10");
                setText(w, CWatermarkSettingDlg::IDC_WATERMARK_MARGIN_Y, "10");
                click(w, IDOK);
            }, d);
            click(d, D::IDC_CONFIGURE_WATERMARK);
            click(d, IDOK);
        });
        ASSERT_EQ(result, QDialog::Accepted);
    }
    {
        auto store = openSettingsStore();
        const std::pair<const char*, int> sizes[] = {{"MovieProperty/Screen", 48}, {"MovieProperty/Cursor", 20},
                                                     {"MovieProperty/Watermark", 548}, {"MovieProperty/Webcam", 404},
                                                     {"MovieProperty/PIP", 24}};
        for (const auto& [key, size] : sizes) EXPECT_EQ(store->value(key).toByteArray().size(), size) << key;
        EXPECT_EQ(store->value("MovieProperty/SoundCapture").toInt(), 0);
        EXPECT_EQ(store->value("MovieProperty/OptionSound").toInt(), 2);
    }
    // "Restart": a new dialog on a newly opened store shows the same choices.
    auto dlg = makeDialog();
    run(*dlg, [&](D* d) {
        EXPECT_TRUE(checked(d, D::IDC_LIVE_SESSION));
        EXPECT_FALSE(checked(d, D::IDC_RECORD_AUDIO));
        EXPECT_TRUE(checked(d, D::IDC_SOUND_BOTH));
        whenModal([](QDialog* screen) {
            EXPECT_EQ(comboText(screen, CScreenCapSettingDlg::IDC_CAPTURE_SIZE), "Proportional 1/3");
            EXPECT_EQ(comboText(screen, CScreenCapSettingDlg::IDC_QUALITY), "Higher");
            EXPECT_EQ(text(screen, CScreenCapSettingDlg::IDC_FRAME_RATE), "10");
            EXPECT_FALSE(checked(screen, CScreenCapSettingDlg::IDC_INCLUDE_TASKBAR));
            whenModal([](QDialog* cursor) {
                EXPECT_EQ(comboText(cursor, CCursorSettingDlg::IDC_CURSOR_TYPE), "Ellipse");
                EXPECT_EQ(comboText(cursor, CCursorSettingDlg::IDC_CURSOR_OPACITY), "50%");
                EXPECT_EQ(text(cursor, CCursorSettingDlg::IDC_CURSOR_SIZE), "20");
                click(cursor, IDCANCEL);
            }, screen);
            click(screen, CScreenCapSettingDlg::IDC_CURSOR);
            click(screen, IDCANCEL);
        }, d);
        click(d, D::IDC_SCREEN_SETTINGS);
        whenModal([&](QDialog* w) {
            EXPECT_TRUE(checked(w, CWatermarkSettingDlg::IDC_INSERT_WATERMARK));
            EXPECT_EQ(text(w, CWatermarkSettingDlg::IDC_WATERMARK_FILE), image);
            EXPECT_EQ(text(w, CWatermarkSettingDlg::IDC_WATERMARK_WIDTH), "120");
            EXPECT_EQ(text(w, CWatermarkSettingDlg::IDC_WATERMARK_HEIGHT), "40");
            EXPECT_EQ(comboText(w, CWatermarkSettingDlg::IDC_WATERMARK_POSITION), "BottomRight");
            EXPECT_EQ(comboText(w, CWatermarkSettingDlg::IDC_WATERMARK_OPACITY), "70%");
            EXPECT_EQ(text(w, CWatermarkSettingDlg::IDC_WATERMARK_MARGIN_Y), "10");
            w->reject();
        }, d);
        click(d, D::IDC_CONFIGURE_WATERMARK);
        click(d, IDCANCEL);
    });
    const CaptureSettings s = stored();
    EXPECT_EQ(s.screen.sourceKind, kSourceLiveSession);
    EXPECT_EQ(s.screen.frameRate, 10);
    EXPECT_EQ(s.cursor.highlightOpacity, 50);
    EXPECT_EQ(s.watermark.opacity, 70);
}

// "Full Screen" on two monitors: the chosen one is stored under its own key with its rectangle,
// shown again on the next opening, and a stored one that is not connected stays listed as such.
TEST_F(MoviePropertiesTest, TheChosenMonitorIsStoredAndShownAgain) {
    const std::vector<x11::Monitor> monitors = {{"DP-1", {0, 0, 1920, 1080}, false},
                                                {"HDMI-1", {1920, 0, 4480, 1440}, true}};
    auto open = [&] {
        auto dlg = makeDialog();
        dlg->listMonitors = [&] { return monitors; };
        dlg->screenGeometry = [d = dlg.get(), &monitors](ScreenRect& screen, ScreenRect& work, std::string&) {
            screen = work = x11::chooseMonitor(monitors, d->settings().monitor, {0, 0, 4480, 1440}).rect;
            return true;
        };
        return dlg;
    };
    auto dlg = open();
    ASSERT_EQ(run(*dlg, [](D* d) {
        auto* box = d->findChild<QComboBox*>(QStringLiteral("IDC_MONITOR"));
        ASSERT_TRUE(box);
        EXPECT_TRUE(box->isEnabled());
        EXPECT_EQ(box->currentText(), "Primary monitor");
        ASSERT_EQ(box->count(), 4);   // the primary, the two monitors, all of them
        EXPECT_EQ(box->itemText(2), "HDMI-1 \u2014 2560 \u00d7 1440");
        EXPECT_EQ(box->itemText(3), "All monitors");
        box->setCurrentIndex(2);
        click(d, IDOK);
    }), QDialog::Accepted);
    EXPECT_EQ(stored().monitor, "HDMI-1");
    EXPECT_EQ(stored().screen.rect, (ScreenRect{1920, 0, 4480, 1440}));

    auto again = open();
    ASSERT_EQ(run(*again, [](D* d) {
        auto* box = d->findChild<QComboBox*>(QStringLiteral("IDC_MONITOR"));
        EXPECT_EQ(box->currentText(), "HDMI-1 \u2014 2560 \u00d7 1440");
        click(d, D::IDC_LIVE_SESSION);
        EXPECT_FALSE(box->isEnabled()) << "the monitor is a choice of Full Screen only";
        click(d, IDCANCEL);
    }), QDialog::Rejected);

    {
        auto store = openSettingsStore();
        store->setValue("MovieProperty/Monitor", "HDMI-2");
        store->sync();
    }
    auto gone = open();
    ASSERT_EQ(run(*gone, [](D* d) {
        EXPECT_EQ(d->findChild<QComboBox*>(QStringLiteral("IDC_MONITOR"))->currentText(), "HDMI-2 (not connected)");
        click(d, IDCANCEL);
    }), QDialog::Rejected);
}
