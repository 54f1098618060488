#pragma once
// The per-user settings store: section "MovieProperty" holds the record, section "SessionWindow"
// the live-session handshake of the companion program.

#include <QSettings>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "settings/CaptureSettings.h"
#include "webcam/VideoDeviceQuery.h"

namespace torvane {

// The store of this program: $XDG_CONFIG_HOME/TORVANE COMMUNICATIONS/TorvaneRecorder.conf.
std::unique_ptr<QSettings> openSettingsStore();

// The documents folder, created when missing; empty when it cannot be determined or created.
std::string documentsFolder();
// Where the documents folder is, without creating it; empty when it cannot be determined.
std::string documentsFolderPath();
// "<documents>/unitled.avi", or empty without a documents folder.
std::string defaultCaptureFileName();

// The record as stored (byte-exact where the sizes are right).
CaptureSettings loadCaptureSettings(QSettings& store, const VideoDeviceQuery& devices = {});
// The same, with every value the program cannot use replaced by its default (each said in the log);
// what the dialogs and the recorders start from.
CaptureSettings loadUsableCaptureSettings(QSettings& store, const VideoDeviceQuery& devices = {});
void saveCaptureSettings(QSettings& store, const CaptureSettings& settings);

// "CaptureFileName" with the default file name as default (what Start reads).
std::string readCaptureFileName(QSettings& store);
// The monitor "Full Screen" records: an output's name, "all", or "" for the primary one.
std::string readMonitorChoice(QSettings& store);
// "CaptureFileName" as stored; empty when none is.
std::string storedCaptureFileName(QSettings& store);

// "Hwnd" of "SessionWindow": the X11 window id the companion program stored, 0 when none.
uint64_t readLiveSessionWindow(QSettings& store);
void writeLiveSessionWindow(QSettings& store, uint64_t window);
// "RecordingInProgress": the file of a recording that has started and not yet finished, so a
// recorder that died can repair it at its next start. Empty clears it.
std::string readRecordingInProgress(QSettings& store);
void writeRecordingInProgress(QSettings& store, const std::string& path);
// A window id as the companion program or a script writes it: decimal or "0x" hex. False when
// the text is not such a number.
bool parseWindowId(const std::string& text, uint64_t& id);

// "RestoreToken" of "ScreenCast": what the desktop's screen cast portal handed out so a later run
// shares the same screen without asking again; empty when none.
std::string readScreenCastRestoreToken(QSettings& store);
void writeScreenCastRestoreToken(QSettings& store, const std::string& token);

}  // namespace torvane
