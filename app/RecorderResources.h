#pragma once
// Control and command ids, timer ids and the fixed texts of the recorder's windows.

#include <QString>

#include "platform/core/Version.h"

namespace torvane {

// Recorder window controls.
constexpr int IDC_NEW = 1000;
constexpr int IDC_START = 1001;
constexpr int IDC_PAUSE = 1002;
constexpr int IDC_STOP = 1003;
constexpr int IDC_HELP_LINK = 1050;
constexpr int IDC_STATUS_PLACEHOLDER = 1052;

// Commands.
constexpr int IDM_ABOUTBOX = 16;
constexpr int ID_HOTKEY_STOP = 32779;
constexpr int ID_HOTKEY_PAUSE = 32780;
constexpr int ID_TRAY_PAUSE = 32782;
constexpr int ID_TRAY_STOP = 32783;
constexpr int ID_TRAY_EXIT = 32784;
constexpr int ID_TRAY_START = 32785;
constexpr int ID_TRAY_SHOW = 32786;

// Timers.
constexpr int IDT_COUNTDOWN = 200;
constexpr int IDT_BORDER_FLASH = 10000;
constexpr int IDT_STATUS_REFRESH = 11211;

// Mouse messages a tray notification carries in lParam.
constexpr int WM_MOUSEMOVE = 0x0200;
constexpr int WM_LBUTTONDOWN = 0x0201;
constexpr int WM_LBUTTONDBLCLK = 0x0203;
constexpr int WM_RBUTTONUP = 0x0204;
constexpr int WM_RBUTTONDBLCLK = 0x0206;
constexpr int WM_CONTEXTMENU = 0x007B;

constexpr int kTrayIconId = 1;

namespace text {
inline const QString kVersion = QStringLiteral(TORVANE_VERSION);
inline const QString kWindowCaption = QStringLiteral("Torvane Live Screen Recorder");
inline const QString kIdleTitle = QStringLiteral("Torvane Live Screen Recorder %1");
inline const QString kReady = QStringLiteral("Recorder Ready");
inline const QString kRecording = QStringLiteral("Now Recording");
inline const QString kPaused = QStringLiteral("Recorder Paused");
inline const QString kHelpCaption = QStringLiteral("Torvane Live Screen Recorder %1 - Get HELP");
inline const QString kHelpTooltip = QStringLiteral("Get help about the Torvane Live Screen Recorder");
inline const QString kHelpQuery = QStringLiteral("topic=recorder_v1.0");
inline const QString kFeedbackAddress = QStringLiteral("https://www.torvane.example/screenrecorderfollowup.asp?v=%1");
inline const QString kAboutMenu = QStringLiteral("&About TorvaneRecorder...");
inline const QString kNoDocuments = QStringLiteral("Could not get personal document folder");
inline const QString kNoFile = QStringLiteral("Please select capture file");
inline const QString kNoLiveSession = QStringLiteral(
    "You have selected to record an Torvane Live Session. \nTorvane Live however is not started.\n\n"
    " Please start it first and try again.");
inline const QString kReview = QStringLiteral("Your recording is now ready. Do you want to review it?");
inline const QString kFeedback = QStringLiteral(
    "Thank you for using the Torvane Live Screen Recorder. \nWould you like to tell us what you think "
    "about it and help us make a better product?");
inline const QString kFeedbackCaption = QStringLiteral("We need your feedback.");
inline const QString kLosses = QStringLiteral("The recording is incomplete:\n%1");
inline const QString kNotifySaved = QStringLiteral("Recording saved");
inline const QString kNotifySavedIncomplete = QStringLiteral("Recording saved, but incomplete");
inline const QString kNotifySavedBody = QStringLiteral("%1 in %2");

// Countdown.
inline const QString kCountdownLine1 = QStringLiteral("The recorder will be minimized to the system tray. ");
inline const QString kCountdownLine2 = QStringLiteral("Press Ctrl + Alt + S to stop the recorder.");

// Tray menu.
inline const QString kTrayShow = QStringLiteral("S&how");
inline const QString kTrayStart = QStringLiteral("&Start");
inline const QString kTrayPause = QStringLiteral("&Pause");
inline const QString kTrayStop = QStringLiteral("S&top");
inline const QString kTrayExit = QStringLiteral("E&xit");
}  // namespace text

}  // namespace torvane
