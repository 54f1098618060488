#include "settings/CNewCaptureDlg.h"

#include "webcam/VideoDeviceEnum.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QShowEvent>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "audio/MixerLines.h"
#include "platform/ui/DdxDataExchange.h"
#include "platform/ui/MessageBox.h"
#include "platform/x11/Monitors.h"
#include "platform/x11/Screen.h"
#include "settings/CPipSettingDlg.h"
#include "settings/CScreenCapSettingDlg.h"
#include "settings/CSelectRegionDlg.h"
#include "settings/CWatermarkSettingDlg.h"
#include "settings/CWebcamSettingDlg.h"
#include "settings/CaptureRules.h"
#include "settings/DlgControls.h"

namespace torvane {

namespace {

// How long the hidden windows get to vanish from the screen before it is frozen.
constexpr int kHideDelayMs = 333;

void waitProcessingEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

QRadioButton* radio(const char* caption, const char* name, int id) {
    return withId(new QRadioButton(QString::fromLatin1(caption)), name, id);
}

QPushButton* button(const char* caption, const char* name, int id) {
    return withId(new QPushButton(QString::fromLatin1(caption)), name, id);
}

}  // namespace

CNewCaptureDlg::CNewCaptureDlg(QWidget* parent, QSettings* store, VideoDeviceQuery devices)
    : QDialog(parent), store_(store), devices_(std::move(devices)) {
    if (!store_) {
        ownStore_ = openSettingsStore();
        store_ = ownStore_.get();
    }

    systemSoundAvailable = [] { return ::torvane::systemSoundAvailable() != 0; };
    chooseRecordingLine = [](int option) { ::torvane::chooseRecordingLine(option); };
    screenGeometry = [this](ScreenRect& screen, ScreenRect& workArea, std::string& error) {
        const x11::ScreenGeometry g = x11::queryScreenGeometry(settings_.monitor, &error);
        if (g.screen.width() <= 0 || g.screen.height() <= 0) {
            if (error.empty()) error = "The screen size could not be determined.";
            return false;
        }
        screen = g.screen;
        workArea = g.workArea;
        return true;
    };
    listMonitors = [] { return x11::listMonitors(nullptr); };
    chooseSaveFile = [](QWidget* owner) {
        QFileDialog dialog(owner);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("avi"));
        // The container follows the extension: AVI (PCM sound) stays the default, MP4 (AAC sound)
        // is what browsers and phones play.
        const QString mp4Filter = QStringLiteral("MP4 files (*.mp4)");
        dialog.setNameFilters({QStringLiteral("AVI files(*.avi) (*.avi)"), mp4Filter});
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, mp4Filter](const QString& filter) {
            dialog.setDefaultSuffix(filter == mp4Filter ? QStringLiteral("mp4") : QStringLiteral("avi"));
        });
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().front();
    };
    selectArea = [](ScreenRect& selected) {
        CSelectRegionDlg dlg;
        const int result = dlg.exec();
        selected = dlg.selectedRect();
        return result;
    };
    runWebcamSettings = runWebcamSettingDlg;
    // On the working copy's webcam: its "Webcam Settings" change it at once.
    runPipSettings = [this](QWidget* owner, const PipSettings& current, int& on, int& position) {
        return runPipSettingDlg(owner, current, settings_.webcam, on, position);
    };
    openMicSettings = [] {
        const QStringList command = micSettingsCommand();
        if (!command.isEmpty()) QProcess::startDetached(command.front(), command.mid(1));
    };

    setWindowTitle(QStringLiteral("Movie Properties"));
    setObjectName(QStringLiteral("IDD_NEW_CAPTURE"));

    sourceRadios_ = {radio("Full Screen Recording", "IDC_FULL_SCREEN", IDC_FULL_SCREEN),
                     radio("Screen Area Recording", "IDC_SCREEN_AREA", IDC_SCREEN_AREA),
                     radio("Webcam Only", "IDC_WEBCAM_ONLY", IDC_WEBCAM_ONLY),
                     radio("Torvane Live Session Only", "IDC_LIVE_SESSION", IDC_LIVE_SESSION)};
    screenSettingsButton_ = button("Screen Settings", "IDC_SCREEN_SETTINGS", IDC_SCREEN_SETTINGS);
    webcamSettingsButton_ = button("Webcam Settings", "IDC_WEBCAM_SETTINGS", IDC_WEBCAM_SETTINGS);
    watermarkButton_ = button("Configure Watermark", "IDC_CONFIGURE_WATERMARK", IDC_CONFIGURE_WATERMARK);
    presenterVideoButton_ = button("Configure Presenter Video", "IDC_PRESENTER_VIDEO", IDC_PRESENTER_VIDEO);
    recordAudioBox_ = withId(new QCheckBox(QStringLiteral("Record Audio")), "IDC_RECORD_AUDIO", IDC_RECORD_AUDIO);
    soundRadios_ = {radio("Record from Microphone", "IDC_SOUND_MICROPHONE", IDC_SOUND_MICROPHONE),
                    radio("Record System Sounds only", "IDC_SOUND_SYSTEM", IDC_SOUND_SYSTEM),
                    radio("Record Both Microphone and System Sounds", "IDC_SOUND_BOTH", IDC_SOUND_BOTH)};
    micSettingsButton_ = button("Mic Settings", "IDC_MIC_SETTINGS", IDC_MIC_SETTINGS);
    fileNameEdit_ = withId(new QLineEdit, "IDC_FILE_NAME", IDC_FILE_NAME);
    fileNameEdit_->setReadOnly(true);
    browseButton_ = button("...", "IDC_BROWSE", IDC_BROWSE);
    browseButton_->setMaximumWidth(32);
    monitorBox_ = new QComboBox;
    monitorBox_->setObjectName(QStringLiteral("IDC_MONITOR"));

    // Two exclusive groups, as two radio groups in one template.
    auto* sourceGroup = new QButtonGroup(this);
    for (QAbstractButton* b : sourceRadios_) sourceGroup->addButton(b);
    auto* soundGroup = new QButtonGroup(this);
    for (QAbstractButton* b : soundRadios_) soundGroup->addButton(b);

    auto* video = new QGroupBox(QStringLiteral("Video Settings"));
    auto* videoGrid = new QGridLayout(video);
    for (int i = 0; i < sourceRadios_.size(); ++i) videoGrid->addWidget(sourceRadios_[i], i, 0);
    videoGrid->addWidget(screenSettingsButton_, 0, 1);
    videoGrid->addWidget(webcamSettingsButton_, 1, 1);
    videoGrid->addWidget(watermarkButton_, 2, 1);
    videoGrid->addWidget(presenterVideoButton_, 3, 1);
    auto* monitorRow = new QHBoxLayout;
    monitorRow->addWidget(new QLabel(QStringLiteral("Monitor:")));
    monitorRow->addWidget(monitorBox_, 1);
    videoGrid->addLayout(monitorRow, 4, 0, 1, 2);

    auto* audio = new QGroupBox(QStringLiteral("Audio Settings"));
    auto* audioGrid = new QGridLayout(audio);
    audioGrid->addWidget(recordAudioBox_, 0, 0);
    for (int i = 0; i < soundRadios_.size(); ++i) audioGrid->addWidget(soundRadios_[i], i + 1, 0);
    audioGrid->addWidget(micSettingsButton_, 1, 1);

    auto* file = new QGroupBox(QStringLiteral("Movie File"));
    auto* fileRow = new QHBoxLayout(file);
    fileRow->addWidget(fileNameEdit_, 1);
    fileRow->addWidget(browseButton_);

    auto* ok = button("OK", "IDOK", IDOK);
    auto* cancel = button("Cancel", "IDCANCEL", IDCANCEL);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* top = new QVBoxLayout(this);
    top->addWidget(video);
    top->addWidget(audio);
    top->addWidget(file);
    top->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &CNewCaptureDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CNewCaptureDlg::reject);
    connect(sourceRadios_[kSourceFullScreen], &QAbstractButton::clicked, this,
            &CNewCaptureDlg::applyPresenterVideoRule);
    // The monitor choice is for "Full Screen" only.
    for (QAbstractButton* b : sourceRadios_)
        connect(b, &QAbstractButton::toggled, this,
                [this] { monitorBox_->setEnabled(sourceRadios_[kSourceFullScreen]->isChecked()); });
    connect(sourceRadios_[kSourceArea], &QAbstractButton::clicked, this, &CNewCaptureDlg::onScreenArea);
    connect(sourceRadios_[kSourceWebcam], &QAbstractButton::clicked, this,
            &CNewCaptureDlg::applyPresenterVideoRule);
    connect(recordAudioBox_, &QAbstractButton::clicked, this, &CNewCaptureDlg::applySoundRule);
    for (QAbstractButton* b : soundRadios_)
        connect(b, &QAbstractButton::clicked, this, &CNewCaptureDlg::onSoundOption);
    connect(micSettingsButton_, &QPushButton::clicked, this, [this] {
        if (openMicSettings) openMicSettings();
    });
    connect(browseButton_, &QPushButton::clicked, this, &CNewCaptureDlg::onBrowse);
    connect(screenSettingsButton_, &QPushButton::clicked, this, &CNewCaptureDlg::onScreenSettings);
    connect(watermarkButton_, &QPushButton::clicked, this, &CNewCaptureDlg::onWatermark);
    connect(webcamSettingsButton_, &QPushButton::clicked, this, &CNewCaptureDlg::onWebcamSettings);
    connect(presenterVideoButton_, &QPushButton::clicked, this, &CNewCaptureDlg::onPresenterVideo);
}

CNewCaptureDlg::~CNewCaptureDlg() = default;

QStringList CNewCaptureDlg::micSettingsCommand() {
    if (!QStandardPaths::findExecutable(QStringLiteral("pavucontrol")).isEmpty())
        return {QStringLiteral("pavucontrol"), QStringLiteral("--tab=4")};   // its input devices
    if (!QStandardPaths::findExecutable(QStringLiteral("alsamixer")).isEmpty()) {
        for (const char* terminal : {"x-terminal-emulator", "xterm"}) {
            const QString t = QString::fromLatin1(terminal);
            if (!QStandardPaths::findExecutable(t).isEmpty())
                return {t, QStringLiteral("-e"), QStringLiteral("alsamixer"), QStringLiteral("--view=capture")};
        }
    }
    return {};
}

int CNewCaptureDlg::exec() {
    // Our own modal loop: the dialog hides itself during the area selection, and hiding a dialog
    // that runs QDialog::exec() would end it.
    setModal(true);
    setResult(QDialog::Rejected);
    QPointer<CNewCaptureDlg> self(this);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    if (isVisible()) loop.exec(QEventLoop::DialogExec);
    return self ? result() : int(QDialog::Rejected);
}

void CNewCaptureDlg::showEvent(QShowEvent* event) {
    if (!initialised_) initDialog();
    QDialog::showEvent(event);
}

void CNewCaptureDlg::initDialog() {
    initialised_ = true;
    updateData(false);   // the constructor's defaults

    systemSoundAvailable_ = !systemSoundAvailable || systemSoundAvailable();
    if (!systemSoundAvailable_) {
        soundRadios_[kSoundSystem]->setEnabled(false);
        soundRadios_[kSoundBoth]->setEnabled(false);
    }

    settings_ = loadUsableCaptureSettings(*store_, devices_);
    sourceKind_ = settings_.screen.sourceKind;
    // A stored kind outside the four choices would leave no source selected.
    if (sourceKind_ < kSourceFullScreen || sourceKind_ > kSourceLiveSession) sourceKind_ = kSourceFullScreen;
    soundEnabled_ = settings_.soundEnabled;
    soundOption_ = settings_.soundOption;
    fileName_ = QString::fromStdString(settings_.fileName);

    videoDevice_ = devices_.anyDevice && devices_.anyDevice();
    if (!videoDevice_) {
        sourceRadios_[kSourceWebcam]->setEnabled(false);
        presenterVideoButton_->setEnabled(false);
    }

    updateData(false);
    applySoundRule();
    applyPresenterVideoRule();
    fillMonitors();
}

void CNewCaptureDlg::fillMonitors() {
    monitorBox_->clear();
    monitorBox_->addItem(QStringLiteral("Primary monitor"), QString());
    bool listed = settings_.monitor.empty() || settings_.monitor == x11::kAllMonitors;
    const std::vector<x11::Monitor> monitors = listMonitors ? listMonitors() : std::vector<x11::Monitor>{};
    for (const x11::Monitor& m : monitors) {
        monitorBox_->addItem(QString::fromStdString(x11::monitorLabel(m)), QString::fromStdString(m.name));
        listed = listed || m.name == settings_.monitor;
    }
    monitorBox_->addItem(QStringLiteral("All monitors"), QString::fromLatin1(x11::kAllMonitors));
    // A stored monitor that is not connected now stays chosen until the user picks another.
    if (!listed)
        monitorBox_->addItem(QStringLiteral("%1 (not connected)").arg(QString::fromStdString(settings_.monitor)),
                             QString::fromStdString(settings_.monitor));
    monitorBox_->setCurrentIndex(std::max(0, monitorBox_->findData(QString::fromStdString(settings_.monitor))));
    monitorBox_->setEnabled(sourceKind_ == kSourceFullScreen);
}

void CNewCaptureDlg::updateData(bool save) {
    ui::CDataExchange dx(this, save);
    int source = sourceKind_;
    dx.radio(sourceRadios_, source);
    if (source >= 0) sourceKind_ = source;
    dx.check(recordAudioBox_, soundEnabled_);
    int option = soundOption_;
    dx.radio(soundRadios_, option);
    if (option >= 0) soundOption_ = option;
    dx.text(fileNameEdit_, fileName_);
}

int CNewCaptureDlg::sourceFromRadios() const {
    for (int i = 0; i < sourceRadios_.size(); ++i)
        if (sourceRadios_[i]->isChecked()) return i;
    return sourceKind_;
}

void CNewCaptureDlg::applySoundRule() {
    const bool on = recordAudioBox_->isChecked();
    soundRadios_[kSoundMicrophone]->setEnabled(on);
    micSettingsButton_->setEnabled(on);
    soundRadios_[kSoundSystem]->setEnabled(on && systemSoundAvailable_);
    soundRadios_[kSoundBoth]->setEnabled(on && systemSoundAvailable_);
}

void CNewCaptureDlg::applyPresenterVideoRule() {
    presenterVideoButton_->setEnabled(videoDevice_ && sourceFromRadios() != kSourceWebcam);
}

void CNewCaptureDlg::onScreenArea() {
    updateData(true);
    QWidget* recorder = parentWidget() ? parentWidget()->window() : nullptr;
    const bool recorderWasVisible = recorder && recorder->isVisible() && recorder->windowHandle();
    // Through its window: hiding a dialog widget that runs exec() would end its exec().
    if (recorderWasVisible) recorder->windowHandle()->hide();
    hide();
    waitProcessingEvents(kHideDelayMs);

    ScreenRect selected;
    const int result = selectArea ? selectArea(selected) : int(QDialog::Rejected);
    if (result != QDialog::Accepted) {
        sourceKind_ = kSourceFullScreen;
        updateData(false);
    } else {
        settings_.screen.rect = normaliseCaptureRect(selected);
    }
    if (recorderWasVisible) recorder->windowHandle()->show();
    show();
    raise();
    activateWindow();
    if (result == QDialog::Accepted) applyPresenterVideoRule();
}

void CNewCaptureDlg::onSoundOption() {
    updateData(true);
    if (chooseRecordingLine) chooseRecordingLine(soundOption_);
}

void CNewCaptureDlg::onBrowse() {
    updateData(true);
    const QString chosen = chooseSaveFile ? chooseSaveFile(this) : QString();
    if (chosen.isEmpty()) return;
    fileName_ = chosen;
    updateData(false);
}

void CNewCaptureDlg::onScreenSettings() {
    CScreenCapSettingDlg dlg(&settings_.screen, settings_.cursor, this);
    if (dlg.exec() != QDialog::Accepted) return;
    dlg.writeTo(settings_.screen);
    settings_.cursor = dlg.cursorSettings();
}

void CNewCaptureDlg::onWatermark() {
    CWatermarkSettingDlg dlg(&settings_.watermark, this);
    if (dlg.exec() != QDialog::Accepted) return;
    dlg.writeTo(settings_.watermark);
}

void CNewCaptureDlg::onWebcamSettings() {
    if (!runWebcamSettings) return;
    std::string name;
    uint32_t resolution = 0;
    if (!runWebcamSettings(this, settings_.webcam, name, resolution)) return;
    storeWebcamChoice(settings_.webcam, name, resolution);
}

void CNewCaptureDlg::onPresenterVideo() {
    if (!runPipSettings) return;
    int on = 0, position = 0;
    if (!runPipSettings(this, settings_.pip, on, position)) return;
    settings_.pip.on = on;
    settings_.pip.width = 0;
    settings_.pip.height = 0;
    settings_.pip.position = position;
    settings_.pip.marginX = 10;
    settings_.pip.marginY = 10;
}

void CNewCaptureDlg::accept() {
    updateData(true);

    if (!fileName_.isEmpty() && QFileInfo::exists(fileName_)) {
        const int answer = ui::messageBox(this, QStringLiteral("The file already exists. Do you want to overwrite it?"),
                                          {}, ui::MB_YESNO);
        if (answer != ui::IDYES) {
            const QString chosen = chooseSaveFile ? chooseSaveFile(this) : QString();
            if (chosen.isEmpty()) return;
            fileName_ = chosen;
            updateData(false);
        }
    }

    // Work on a copy so that a refusal below leaves the working copy as it was.
    ScreenSettings screen = settings_.screen;
    screen.sourceKind = sourceKind_;
    if (sourceKind_ == kSourceWebcam && settings_.webcam.deviceName[0] == u'\0') {
        ui::messageBox(this, QStringLiteral("Please select the video input device."), {}, ui::MB_OK | ui::MB_ICONERROR);
        return;
    }
    settings_.monitor = monitorBox_->currentData().toString().toStdString();
    ScreenRect screenRect, workArea;
    if (sourceKind_ == kSourceFullScreen) {
        std::string error;
        if (!screenGeometry || !screenGeometry(screenRect, workArea, error)) {
            ui::messageBox(this, QString::fromStdString(error), {}, ui::MB_OK | ui::MB_ICONERROR);
            return;
        }
    }
    applyRectBySourceKind(screen, settings_.webcam, screenRect, workArea);
    applyOutputSize(screen);

    settings_.screen = screen;
    if (settings_.pip.on) {
        settings_.pip.width = settings_.webcam.width;
        settings_.pip.height = settings_.webcam.height;
    }
    settings_.soundEnabled = soundEnabled_;
    settings_.soundOption = soundOption_;
    settings_.fileName = fileName_.toStdString();
    saveCaptureSettings(*store_, settings_);
    store_->sync();
    QDialog::accept();
}

bool runMovieProperties(QWidget* parent, CaptureSettings& out) {
    CNewCaptureDlg dlg(parent, nullptr, videoDeviceQuery());
    if (dlg.exec() != QDialog::Accepted) return false;
    out = dlg.settings();
    return true;
}

}  // namespace torvane
