#pragma once
// "Movie Properties": the whole record of the next recording (source, sound, file) and the way to
// the screen, watermark, webcam and presenter-video settings and to the area selection. Loads the
// record from the settings store when it opens; OK checks it, completes the capture rectangle and
// the output size, and stores it. Cancel discards every change, also those of sub-dialogs.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/CaptureSettings.h"
#include "settings/SettingsStore.h"
#include "platform/x11/Monitors.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSettings;

namespace torvane {

class CNewCaptureDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDD = 129,
        IDC_FULL_SCREEN = 1001,
        IDC_SCREEN_AREA = 1003,
        IDC_WEBCAM_ONLY = 1017,
        IDC_LIVE_SESSION = 1018,
        IDC_SCREEN_SETTINGS = 1042,
        IDC_WEBCAM_SETTINGS = 1021,
        IDC_CONFIGURE_WATERMARK = 1019,
        IDC_PRESENTER_VIDEO = 1023,
        IDC_RECORD_AUDIO = 1005,
        IDC_SOUND_MICROPHONE = 1006,
        IDC_SOUND_SYSTEM = 1007,
        IDC_SOUND_BOTH = 1015,
        IDC_MIC_SETTINGS = 1011,
        IDC_FILE_NAME = 1012,
        IDC_BROWSE = 1013,
    };

    // `store` null: the program's own settings store. The record is loaded when the dialog is
    // first shown, so the hooks below may be set after construction.
    explicit CNewCaptureDlg(QWidget* parent = nullptr, QSettings* store = nullptr, VideoDeviceQuery devices = {});
    ~CNewCaptureDlg() override;

    // After Accepted: the record now in the store, to hand to the session in the order screen,
    // sound enabled, sound option, cursor, webcam, picture in picture, watermark.
    const CaptureSettings& settings() const { return settings_; }

    // --- What the dialog asks of the rest of the program. Each has a working default. ---

    // Whether system sound can be recorded (asked once on opening; false disables the two system
    // sound choices). Default: the sound layer's check (always yes with a sound server).
    std::function<bool()> systemSoundAvailable;
    // Chooses the input line for a sound option (asked on every click of a sound choice); it acts
    // only where system sound comes from a capture mixer line. Default: the sound layer's choice.
    std::function<void(int soundOption)> chooseRecordingLine;
    // The chosen monitor's screen and work area (settings().monitor: a name, "all", or "" the
    // primary); false with a reason when they cannot be determined.
    std::function<bool(ScreenRect& screen, ScreenRect& workArea, std::string& error)> screenGeometry;
    // The monitors "Full Screen" may record (default: the X server's RandR monitors).
    std::function<std::vector<x11::Monitor>()> listMonitors;
    // Asks for the movie file to write (save-file dialog, confirming an existing file); empty = cancelled.
    std::function<QString(QWidget* parent)> chooseSaveFile;
    // Runs the area selection: QDialog::Accepted with the normalised rectangle, or Rejected.
    std::function<int(ScreenRect& selected)> selectArea;
    // The webcam device dialog (default: "Webcam"): true on OK with the chosen device name (empty = none) and
    // resolution value (width low 16 bits, height high 16 bits). Unset: the button does nothing.
    std::function<bool(QWidget* parent, const WebcamSettings& current, std::string& name, uint32_t& resolution)>
        runWebcamSettings;
    // The presenter-video dialog (default: "Picture in Picture Settings"): true on OK with its check box and position.
    std::function<bool(QWidget* parent, const PipSettings& current, int& on, int& position)> runPipSettings;
    // Starts the desktop's recording-device settings.
    std::function<void()> openMicSettings;

    // The program and arguments "Mic Settings" starts: the sound server's volume control on its
    // input tab when installed, else the terminal mixer on its capture view; empty when neither exists.
    static QStringList micSettingsCommand();

    int exec() override;

protected:
    void showEvent(QShowEvent* event) override;
    void accept() override;

private:
    void initDialog();
    void updateData(bool save);
    void applySoundRule();
    void applyPresenterVideoRule();
    void fillMonitors();
    void onScreenArea();
    void onSoundOption();
    void onBrowse();
    void onScreenSettings();
    void onWatermark();
    void onWebcamSettings();
    void onPresenterVideo();
    int sourceFromRadios() const;

    std::unique_ptr<QSettings> ownStore_;
    QSettings* store_;
    VideoDeviceQuery devices_;
    CaptureSettings settings_;
    int sourceKind_ = kSourceFullScreen;
    int soundEnabled_ = 1;
    int soundOption_ = kSoundMicrophone;
    QString fileName_;
    bool systemSoundAvailable_ = true;
    bool videoDevice_ = false;
    bool initialised_ = false;

    QList<QAbstractButton*> sourceRadios_;
    QList<QAbstractButton*> soundRadios_;
    QPushButton* screenSettingsButton_;
    QPushButton* webcamSettingsButton_;
    QPushButton* watermarkButton_;
    QPushButton* presenterVideoButton_;
    QCheckBox* recordAudioBox_;
    QPushButton* micSettingsButton_;
    QLineEdit* fileNameEdit_;
    QComboBox* monitorBox_;   // "Full Screen": which monitor
    QPushButton* browseButton_;
};

// Runs the dialog modally; true (and the record in `out`) on OK.
bool runMovieProperties(QWidget* parent, CaptureSettings& out);

}  // namespace torvane
