#include "settings/SettingsStore.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "settings/StoredSettingsCheck.h"

namespace torvane {

namespace {

const QString kScreen = QStringLiteral("MovieProperty/Screen");
const QString kCursor = QStringLiteral("MovieProperty/Cursor");
const QString kWatermark = QStringLiteral("MovieProperty/Watermark");
const QString kWebcam = QStringLiteral("MovieProperty/Webcam");
const QString kPip = QStringLiteral("MovieProperty/PIP");
const QString kSoundCapture = QStringLiteral("MovieProperty/SoundCapture");
const QString kOptionSound = QStringLiteral("MovieProperty/OptionSound");
const QString kCaptureFileName = QStringLiteral("MovieProperty/CaptureFileName");
// The monitor "Full Screen" records: an output's name, "all", or empty for the primary one. A key
// of its own: the stored screen record keeps its size.
const QString kMonitor = QStringLiteral("MovieProperty/Monitor");
const QString kRecordingInProgress = QStringLiteral("MovieProperty/RecordingInProgress");
const QString kSessionHwnd = QStringLiteral("SessionWindow/Hwnd");
const QString kScreenCastToken = QStringLiteral("ScreenCast/RestoreToken");

// A binary record is taken only when the stored value is a byte array of exactly its size.
template <typename Record>
bool readRecord(QSettings& store, const QString& key, Record& out) {
    static_assert(std::is_trivially_copyable_v<Record>);
    const QVariant v = store.value(key);
    if (v.typeId() != QMetaType::QByteArray) return false;
    const QByteArray bytes = v.toByteArray();
    if (bytes.size() != static_cast<qsizetype>(sizeof(Record))) return false;
    std::memcpy(&out, bytes.constData(), sizeof(Record));
    return true;
}

template <typename Record>
void writeRecord(QSettings& store, const QString& key, const Record& record) {
    store.setValue(key, QByteArray(reinterpret_cast<const char*>(&record), sizeof(Record)));
}

// The text store keeps integers as strings; anything that is not a 32-bit integer counts as missing.
int32_t readInt(QSettings& store, const QString& key, int32_t fallback) {
    const QVariant v = store.value(key);
    if (!v.isValid()) return fallback;
    bool ok = false;
    const int value = v.toString().trimmed().toInt(&ok, 10);
    return ok ? value : fallback;
}

QString readString(QSettings& store, const QString& key, const QString& fallback) {
    const QVariant v = store.value(key);
    if (!v.isValid()) return fallback;
    // A hand-edited name with an unquoted comma comes back as a list.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

}  // namespace

std::unique_ptr<QSettings> openSettingsStore() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("TORVANE COMMUNICATIONS"),
                                       QStringLiteral("TorvaneRecorder"));
}

std::string documentsFolderPath() {
    // The desktop's own setting wins over the user-dirs file Qt reads.
    QString path = QString::fromLocal8Bit(qgetenv("XDG_DOCUMENTS_DIR"));
    // Written the way user-dirs.dirs writes it, "$HOME/..." is relative to the home folder.
    if (path.startsWith(QLatin1String("$HOME/")) || path == QLatin1String("$HOME"))
        path.replace(0, 5, QDir::homePath());
    if (QDir::isRelativePath(path)) path.clear();
    if (path.isEmpty()) path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (path.isEmpty()) return {};
    return QDir::toNativeSeparators(QDir::cleanPath(path)).toStdString();
}

std::string documentsFolder() {
    const QString path = QString::fromStdString(documentsFolderPath());
    if (path.isEmpty()) return {};
    // A missing folder would make the default file uncreatable, so it is created here.
    if (!QDir().mkpath(path) || !QFileInfo(path).isDir()) return {};
    return path.toStdString();
}

std::string defaultCaptureFileName() {
    const std::string folder = documentsFolder();
    if (folder.empty()) return {};
    return folder + "/unitled.avi";
}

CaptureSettings loadCaptureSettings(QSettings& store, const VideoDeviceQuery& devices) {
    CaptureSettings s;

    readRecord(store, kScreen, s.screen);
    // Only the 200-pixel minimum here; the rounding to multiples of 4 comes with the dialog's OK.
    const int64_t width = int64_t{s.screen.rect.right} - s.screen.rect.left;
    const int64_t height = int64_t{s.screen.rect.bottom} - s.screen.rect.top;
    if (width < 200) s.screen.rect.right = static_cast<int32_t>(std::min<int64_t>(int64_t{s.screen.rect.left} + 200, INT32_MAX));
    if (height < 200) s.screen.rect.bottom = static_cast<int32_t>(std::min<int64_t>(int64_t{s.screen.rect.top} + 200, INT32_MAX));

    s.soundEnabled = readInt(store, kSoundCapture, 1);
    s.soundOption = readInt(store, kOptionSound, kSoundMicrophone);

    readRecord(store, kCursor, s.cursor);
    readRecord(store, kWatermark, s.watermark);

    if (!readRecord(store, kWebcam, s.webcam)) {
        s.webcam = WebcamSettings{};
        std::string name;
        uint16_t w = 0, h = 0;
        if (devices.defaultDevice && devices.defaultDevice(name, w, h)) {
            toUtf16Field(name, s.webcam.deviceName, std::size(s.webcam.deviceName));
            s.webcam.width = w;
            s.webcam.height = h;
        }
    }

    if (!readRecord(store, kPip, s.pip)) {
        s.pip = PipSettings{};
        s.pip.width = s.webcam.width;
        s.pip.height = s.webcam.height;
    }

    s.monitor = readMonitorChoice(store);

    const std::string folder = documentsFolder();
    if (!folder.empty())
        s.fileName = readString(store, kCaptureFileName, QString::fromStdString(folder + "/unitled.avi")).toStdString();

    if (!devices.anyDevice || !devices.anyDevice()) {
        std::memset(s.webcam.deviceName, 0, sizeof(s.webcam.deviceName));
        s.webcam.width = 0;
        s.webcam.height = 0;
        if (s.screen.sourceKind == kSourceWebcam) s.screen.sourceKind = kSourceFullScreen;
    }
    return s;
}

CaptureSettings loadUsableCaptureSettings(QSettings& store, const VideoDeviceQuery& devices) {
    CaptureSettings s = loadCaptureSettings(store, devices);
    // A hand-edited or damaged store: what cannot be used becomes its default, said in the log.
    for (const std::string& note : replaceInvalidSettings(s, defaultCaptureFileName())) qWarning("%s", note.c_str());
    return s;
}

void saveCaptureSettings(QSettings& store, const CaptureSettings& settings) {
    store.setValue(kSoundCapture, settings.soundEnabled);
    store.setValue(kOptionSound, settings.soundOption);
    store.setValue(kCaptureFileName, QString::fromStdString(settings.fileName));
    store.setValue(kMonitor, QString::fromStdString(settings.monitor));
    writeRecord(store, kScreen, settings.screen);
    writeRecord(store, kCursor, settings.cursor);
    writeRecord(store, kWatermark, settings.watermark);
    writeRecord(store, kWebcam, settings.webcam);
    writeRecord(store, kPip, settings.pip);
    store.sync();
}

std::string storedCaptureFileName(QSettings& store) { return readString(store, kCaptureFileName, {}).toStdString(); }

std::string readMonitorChoice(QSettings& store) {
    // A name, not a path or a number: anything unprintable or absurdly long is the primary monitor.
    std::string monitor = readString(store, kMonitor, {}).toStdString();
    if (monitor.size() > 255 ||
        std::any_of(monitor.begin(), monitor.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        monitor.clear();
    return monitor;
}

std::string readCaptureFileName(QSettings& store) {
    const std::string fallback = defaultCaptureFileName();
    const std::string name = readString(store, kCaptureFileName, QString::fromStdString(fallback)).toStdString();
    return name.empty() || isUsableFileName(name) ? name : fallback;
}

bool parseWindowId(const std::string& text, uint64_t& id) {
    // Decimal, or "0x" hex; nothing else (no sign, no spaces inside), at most 64 bits.
    const QString t = QString::fromStdString(text).trimmed();
    const bool hex = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const QString digits = hex ? t.mid(2) : t;
    if (digits.isEmpty()) return false;
    for (QChar c : digits) {
        const char16_t u = c.unicode();
        const bool decimal = u >= u'0' && u <= u'9';
        const bool ok = decimal || (hex && ((u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')));
        if (!ok) return false;
    }
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok, hex ? 16 : 10);
    if (!ok) return false;
    id = value;
    return true;
}

uint64_t readLiveSessionWindow(QSettings& store) {
    const QVariant v = store.value(kSessionHwnd);
    if (!v.isValid()) return 0;
    // Written as a plain integer, or by a script as a decimal or "0x" hex string.
    uint64_t id = 0;
    return parseWindowId(v.toString().toStdString(), id) ? id : 0;
}

void writeLiveSessionWindow(QSettings& store, uint64_t window) {
    store.setValue(kSessionHwnd, QVariant::fromValue<qulonglong>(window));
    store.sync();
}

std::string readScreenCastRestoreToken(QSettings& store) {
    return store.value(kScreenCastToken).toString().toStdString();
}

void writeScreenCastRestoreToken(QSettings& store, const std::string& token) {
    if (token.empty())
        store.remove(kScreenCastToken);
    else
        store.setValue(kScreenCastToken, QString::fromStdString(token));
    store.sync();
}

std::string readRecordingInProgress(QSettings& store) {
    const QVariant v = store.value(kRecordingInProgress);
    // Only a plain absolute path is taken: the value may have been edited by hand.
    if (v.typeId() != QMetaType::QString) return {};
    const QString path = v.toString();
    if (path.isEmpty() || path.size() > 4096 || !QDir::isAbsolutePath(path)) return {};
    for (const QChar c : path)
        if (c.unicode() < 0x20) return {};
    return path.toStdString();
}

void writeRecordingInProgress(QSettings& store, const std::string& path) {
    if (path.empty())
        store.remove(kRecordingInProgress);
    else
        store.setValue(kRecordingInProgress, QString::fromStdString(path));
    store.sync();
}

}  // namespace torvane
