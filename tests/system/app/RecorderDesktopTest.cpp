// The recorder on a real (private) X display with a tray host and a sound server: the countdown,
// hiding in the tray, the global shortcuts pressed while another program has the focus, the blinking
// border, the review question and the finished file.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QAction>
#include <QMenu>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QThread>
#include <QTimer>
#include <set>

#include "app/BorderDlg.h"
#include "app/CounterDlg.h"
#include "app/RecorderResources.h"
#include "app/ShellOpen.h"
#include "app/TorvaneRecorderDlg.h"
#include "platform/core/WindowMessage.h"
#include "platform/ui/MessageBox.h"
#include "settings/CaptureSettings.h"

using namespace torvane;

namespace {

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}
void spin(int ms) { waitFor([] { return false; }, ms); }

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(20000);
    if (exitCode) *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAllStandardOutput()) + QString::fromLocal8Bit(p.readAllStandardError());
}

QImage grabScreen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }

// Saved for a person to look at when TORVANE_SCREENSHOT_DIR names a folder.
void screenshot(const QString& name) {
    const QString dir = QString::fromLocal8Bit(qgetenv("TORVANE_SCREENSHOT_DIR"));
    if (!dir.isEmpty()) grabScreen().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

bool isFrameRed(QColor c) { return c.red() > 180 && c.green() < 70 && c.blue() < 70; }

QString mapState(WId id) {
    const QString out = run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(id)});
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Map State: (\\w+)")).match(out);
    return m.hasMatch() ? m.captured(1) : out;
}

QJsonObject probe(const std::string& file) {
    const QString out = run(QStringLiteral("ffprobe"),
                            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
                             QStringLiteral("-show_packets"), QStringLiteral("-of"), QStringLiteral("json"),
                             QString::fromStdString(file)});
    return QJsonDocument::fromJson(out.toUtf8()).object();
}

struct Boxes {
    Boxes() {
        ui::setMessageBoxHook([this](QWidget*, const QString& text, const QString& caption, unsigned) {
            shown.push_back(text);
            captions.push_back(caption);
            return ui::IDNO;
        });
        setShellOpenHook([](const QUrl&) { return true; });
    }
    ~Boxes() {
        ui::setMessageBoxHook({});
        setShellOpenHook({});
    }
    QStringList shown, captions;
};

// A second X client that takes the keyboard focus away from the recorder.
class Companion {
public:
    explicit Companion(const QString& geometry = QStringLiteral("320x200+900+60")) {
        proc_.start(QStringLiteral(TORVANE_COMPANION), {geometry});
        proc_.waitForStarted();
        waitFor([&] { return proc_.canReadLine() || proc_.state() != QProcess::Running; }, 10000);
        const QString line = QString::fromLocal8Bit(proc_.readLine());
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("0x([0-9a-f]+)")).match(line);
        if (m.hasMatch()) id_ = m.captured(1).toULongLong(nullptr, 16);
    }
    ~Companion() { quit(); }
    void quit() {
        proc_.terminate();
        if (!proc_.waitForFinished(3000)) proc_.kill();
        proc_.waitForFinished(1000);
    }
    uint64_t id() const { return id_; }
    // Gives it the focus and says whether it has it.
    bool focus() const {
        run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(id_)});
        return run(QStringLiteral("xdotool"), {QStringLiteral("getwindowfocus")}).trimmed().toULongLong() == id_;
    }

private:
    QProcess proc_;
    uint64_t id_ = 0;
};

void pressKeys(const char* keys) { run(QStringLiteral("xdotool"), {QStringLiteral("key"), QLatin1String(keys)}); }

CaptureSettings areaRecording(const std::string& file, bool withSound) {
    CaptureSettings s;
    s.screen.sourceKind = kSourceArea;
    s.screen.rect = {100, 100, 740, 580};
    s.screen.outputWidth = 640;
    s.screen.outputHeight = 480;
    s.screen.frameRate = 10;
    s.soundEnabled = withSound ? 1 : 0;
    s.soundOption = kSoundMicrophone;
    s.fileName = file;
    return s;
}

void storeFileName(const std::string& file) {
    QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("TORVANE COMMUNICATIONS"),
                    QStringLiteral("TorvaneRecorder"));
    store.setValue(QStringLiteral("MovieProperty/CaptureFileName"), QString::fromStdString(file));
    store.sync();
}

std::string envFile(const char* name) {
    return QDir(QString::fromLocal8Bit(qgetenv("TORVANE_TEST_ENV"))).filePath(QLatin1String(name)).toStdString();
}

}  // namespace

TEST(RecorderDesktop, CountdownTrayShortcutsBorderAndReview) {
    ASSERT_FALSE(qgetenv("TORVANE_TEST_ENV").isEmpty()) << "runs inside the test environment";
    Boxes boxes;
    Companion companion;
    ASSERT_NE(companion.id(), 0u) << "the companion stand-in did not start";

    CTorvaneRecorderDlg window;
    EXPECT_TRUE(window.hooked()) << "the global shortcuts could not be grabbed";
    window.show();
    ASSERT_TRUE(waitFor([&] { return mapState(window.winId()) == "IsViewable"; }, 5000));
    spin(300);
    // Bottom right of the work area.
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.frameGeometry().bottomRight(), work.bottomRight());
    EXPECT_TRUE(window.iconShown()) << "no tray host took the icon";
    screenshot(QStringLiteral("recorder"));

    const std::string file = envFile("desktop.avi");
    storeFileName(file);
    window.applyCaptureSettings(areaRecording(file, false));
    window.buttonUpdate();
    ASSERT_TRUE(window.button(IDC_START)->isEnabled());

    // The countdown: 5 .. 1, one number a second, then the recording starts and the window hides.
    std::vector<int> counts;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* c = qobject_cast<CCounterDlg*>(QApplication::activeModalWidget())) {
            if (counts.empty() || counts.back() != c->count) {
                counts.push_back(c->count);
                if (c->count == 3) screenshot(QStringLiteral("countdown"));
            }
        }
    });
    watch.start(50);
    QElapsedTimer clock;
    clock.start();
    window.onCommand(IDC_START);
    const qint64 countdownMs = clock.elapsed();
    watch.stop();
    EXPECT_EQ(counts, (std::vector<int>{5, 4, 3, 2, 1}));
    EXPECT_GE(countdownMs, 4800);
    ASSERT_EQ(window.session().state(), kStateRecording) << window.session().lastError();
    clock.restart();
    EXPECT_TRUE(waitFor([&] { return mapState(window.winId()) == "IsUnMapped"; }, 3000));

    // The blinking frame: red ring just outside the area, the area itself untouched.
    bool ringSeen = false;
    waitFor([&] {
        const QImage s = grabScreen();
        ringSeen = isFrameRed(s.pixelColor(96, 300)) && isFrameRed(s.pixelColor(99, 300)) &&
                   isFrameRed(s.pixelColor(743, 300)) && isFrameRed(s.pixelColor(400, 96)) &&
                   isFrameRed(s.pixelColor(400, 583));
        if (ringSeen) {
            screenshot(QStringLiteral("border"));
            EXPECT_FALSE(isFrameRed(s.pixelColor(100, 300)));
            EXPECT_FALSE(isFrameRed(s.pixelColor(739, 300)));
            EXPECT_FALSE(isFrameRed(s.pixelColor(400, 100)));
            EXPECT_FALSE(isFrameRed(s.pixelColor(400, 579)));
            EXPECT_FALSE(isFrameRed(s.pixelColor(95, 300)));
            EXPECT_FALSE(isFrameRed(s.pixelColor(744, 300)));
        }
        return ringSeen;
    }, 2000);
    EXPECT_TRUE(ringSeen);

    // A right click on the icon in the tray host opens the menu, updated for a recording.
    const QRect icon = window.trayIcon()->geometry();
    ASSERT_FALSE(icon.isEmpty());
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(icon.center().x()),
                                    QString::number(icon.center().y()), QStringLiteral("click"), QStringLiteral("3")});
    ASSERT_TRUE(waitFor([&] { return window.trayMenu()->isVisible(); }, 3000));
    spin(200);
    screenshot(QStringLiteral("traymenu"));
    for (QAction* a : window.trayMenu()->actions()) {
        const int id = a->data().toInt();
        if (id == ID_TRAY_START) {
            EXPECT_FALSE(a->isEnabled());
        } else if (id == ID_TRAY_STOP) {
            EXPECT_TRUE(a->isEnabled());
        } else if (id == ID_TRAY_SHOW) {
            EXPECT_EQ(a->text(), "Show");
        }
    }
    window.trayMenu()->hide();
    run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("640"), QStringLiteral("650")});

    // Ctrl+Alt+P while the companion has the focus pauses; the frame goes at once.
    ASSERT_TRUE(companion.focus());
    spin(std::max<qint64>(0, 1500 - clock.elapsed()));
    pressKeys("ctrl+alt+p");
    ASSERT_TRUE(waitFor([&] { return window.session().state() == kStatePaused; }, 3000));
    clock.restart();
    const uint32_t atPause = window.session().recordedMilliseconds();
    spin(200);
    EXPECT_EQ(window.session().recordedMilliseconds(), atPause);   // the clock stands still
    EXPECT_FALSE(window.border().isVisible());
    EXPECT_EQ(window.button(IDC_PAUSE)->text(), "Resume");
    spin(1500);

    ASSERT_TRUE(companion.focus());
    pressKeys("ctrl+alt+p");
    ASSERT_TRUE(waitFor([&] { return window.session().state() == kStateRecording; }, 3000));
    const qint64 pausedMs = clock.elapsed();
    EXPECT_LT(window.session().recordedMilliseconds(), atPause + 300);   // resumed where it paused
    EXPECT_TRUE(window.border().blinking());
    spin(1500);

    // Ctrl+Alt+S stops, the window comes back and asks about reviewing the file.
    ASSERT_TRUE(companion.focus());
    const uint32_t beforeStop = window.session().recordedMilliseconds();
    pressKeys("ctrl+alt+s");
    ASSERT_TRUE(waitFor([&] { return window.session().state() == kStateIdle; }, 5000));
    ASSERT_TRUE(waitFor([&] { return boxes.shown.contains("Your recording is now ready. Do you want to review it?"); }, 3000))
        << boxes.shown.join(" | ").toStdString();
    EXPECT_EQ(boxes.shown.size(), 1) << "the recording reported a loss: " << boxes.shown.join(" | ").toStdString();
    EXPECT_TRUE(waitFor([&] { return mapState(window.winId()) == "IsViewable"; }, 3000));
    EXPECT_FALSE(window.border().isVisible());

    const QString keep = QString::fromLocal8Bit(qgetenv("TORVANE_SCREENSHOT_DIR"));
    if (!keep.isEmpty()) {
        QFile::remove(QDir(keep).filePath(QStringLiteral("desktop.avi")));
        QFile::copy(QString::fromStdString(file), QDir(keep).filePath(QStringLiteral("desktop.avi")));
    }

    // The file: valid, H.264 plus PCM, and its time line skips the pause.
    int decodeExit = -1;
    const QString decodeErrors = run(QStringLiteral("ffmpeg"),
                                     {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                                      QString::fromStdString(file), QStringLiteral("-f"), QStringLiteral("null"),
                                      QStringLiteral("-")},
                                     &decodeExit);
    EXPECT_EQ(decodeExit, 0);
    EXPECT_TRUE(decodeErrors.trimmed().isEmpty()) << decodeErrors.toStdString();
    const QJsonObject info = probe(file);
    const QJsonArray streams = info.value("streams").toArray();
    ASSERT_GE(streams.size(), 1);
    EXPECT_EQ(streams[0].toObject().value("codec_name").toString(), "h264");
    EXPECT_EQ(streams[0].toObject().value("width").toInt(), 640);
    EXPECT_EQ(streams[0].toObject().value("height").toInt(), 480);
    int keyframes = 0;
    for (const QJsonValue& v : info.value("packets").toArray()) {
        const QJsonObject p = v.toObject();
        if (p.value("stream_index").toInt() != 0 || p.value("size").toString().toInt() == 0) continue;
        if (p.value("flags").toString().contains('K')) ++keyframes;
    }
    // The time line (pictures and the empty entries of unchanged positions, which ffprobe does not
    // list as packets) is as long as the recorded time (the stop lands a moment after
    // `beforeStop`), not recorded time plus pause.
    const double timeLine = streams[0].toObject().value("duration").toString().toDouble();
    EXPECT_GT(timeLine, beforeStop / 1000.0 - 0.3);
    EXPECT_LT(timeLine, beforeStop / 1000.0 + 1.0) << "paused " << pausedMs << " ms, a gap in the time line";
    EXPECT_GE(keyframes, 2) << "the run after the pause starts with a key frame";

    // The frame round the area never shows in the recording.
    QProcess frames;
    frames.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                                            QString::fromStdString(file), QStringLiteral("-f"),
                                            QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                                            QStringLiteral("rgb24"), QStringLiteral("-")});
    frames.waitForFinished(30000);
    const QByteArray rgb = frames.readAllStandardOutput();
    ASSERT_GE(rgb.size(), 640 * 480 * 3);
    int red = 0;
    for (qsizetype i = 0; i + 2 < rgb.size(); i += 3)
        if (isFrameRed(QColor(uint8_t(rgb[i]), uint8_t(rgb[i + 1]), uint8_t(rgb[i + 2])))) ++red;
    EXPECT_EQ(red, 0);

    // Esc during the countdown starts nothing.
    const std::string cancelled = envFile("cancelled.avi");
    storeFileName(cancelled);
    window.applyCaptureSettings(areaRecording(cancelled, false));
    window.buttonUpdate();
    QTimer::singleShot(1500, [] { pressKeys("Escape"); });
    clock.restart();
    window.onCommand(IDC_START);
    EXPECT_LT(clock.elapsed(), 4500);
    EXPECT_EQ(window.session().state(), kStateReady);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(cancelled)));
    EXPECT_EQ(boxes.shown.size(), 1);

    window.onCommand(ID_TRAY_EXIT);
    EXPECT_EQ(boxes.captions.back(), "We need your feedback.");
}

// With sound from the sound server's source: the pause leaves no gap in either stream.
TEST(RecorderDesktop, SoundRecordingPausedAndStoppedByShortcuts) {
    ASSERT_FALSE(qgetenv("TORVANE_TEST_ENV").isEmpty()) << "runs inside the test environment";
    Boxes boxes;
    CTorvaneRecorderDlg window;
    window.setCountdownRunner([](CTorvaneRecorderDlg&) { return int(QDialog::Accepted); });
    window.show();
    ASSERT_TRUE(waitFor([&] { return mapState(window.winId()) == "IsViewable"; }, 5000));
    const std::string file = envFile("sound.avi");
    storeFileName(file);
    window.applyCaptureSettings(areaRecording(file, true));
    window.buttonUpdate();
    window.onCommand(IDC_START);
    if (window.session().state() == kStateReady && !window.session().lastError().empty())
        GTEST_SKIP() << "the engine cannot record sound here: " << window.session().lastError();
    ASSERT_EQ(window.session().state(), kStateRecording) << window.session().lastError();
    spin(1200);
    pressKeys("ctrl+alt+p");
    ASSERT_TRUE(waitFor([&] { return window.session().state() == kStatePaused; }, 3000));
    spin(1000);
    pressKeys("ctrl+alt+p");
    ASSERT_TRUE(waitFor([&] { return window.session().state() == kStateRecording; }, 3000));
    spin(1200);
    const uint32_t beforeStop = window.session().recordedMilliseconds();
    pressKeys("ctrl+shift+alt+s");   // Shift does not matter
    ASSERT_TRUE(waitFor([&] { return boxes.shown.contains("Your recording is now ready. Do you want to review it?"); }, 5000))
        << boxes.shown.join(" | ").toStdString();
    EXPECT_EQ(boxes.shown.size(), 1) << boxes.shown.join(" | ").toStdString();

    const QJsonObject info = probe(file);
    const QJsonArray streams = info.value("streams").toArray();
    ASSERT_EQ(streams.size(), 2) << "no audio stream";
    EXPECT_EQ(streams[1].toObject().value("codec_type").toString(), "audio");
    EXPECT_EQ(streams[1].toObject().value("codec_name").toString(), "pcm_s16le");
    // The video's time line includes the empty entries of unchanged positions: the stream's length.
    const double video = streams[0].toObject().value("duration").toString().toDouble();
    double audio = 0;
    for (const QJsonValue& v : info.value("packets").toArray()) {
        const QJsonObject p = v.toObject();
        const double end = p.value("dts_time").toString().toDouble() + p.value("duration_time").toString().toDouble();
        if (p.value("stream_index").toInt() != 0) audio = std::max(audio, end);
    }
    EXPECT_GT(video, beforeStop / 1000.0 - 0.3);
    EXPECT_LT(video, beforeStop / 1000.0 + 1.0);
    EXPECT_NEAR(audio, video, 0.5);
    window.onCommand(ID_TRAY_EXIT);
}

// The companion's session window: found through the settings store, measured with its size rounded
// up to multiples of 4, and a recording that stops by itself when the window goes away.
TEST(RecorderDesktop, LiveSessionWindowIsRecordedUntilItCloses) {
    ASSERT_FALSE(qgetenv("TORVANE_TEST_ENV").isEmpty()) << "runs inside the test environment";
    Boxes boxes;
    Companion companion(QStringLiteral("321x203+50+40"));
    ASSERT_NE(companion.id(), 0u);
    CTorvaneRecorderDlg window(CTorvaneRecorderDlg::Options{false});
    window.setCountdownRunner([](CTorvaneRecorderDlg&) { return int(QDialog::Accepted); });
    window.show();
    const std::string file = envFile("live.avi");
    storeFileName(file);
    CaptureSettings s = areaRecording(file, false);
    s.screen.sourceKind = kSourceLiveSession;
    window.applyCaptureSettings(s);
    window.buttonUpdate();
    window.onCommand(IDC_START);
    ASSERT_EQ(window.session().state(), kStateRecording) << window.session().lastError();
    const ScreenSettings& live = window.session().screenSettings();
    EXPECT_EQ(live.rect, (ScreenRect{50, 40, 374, 244}));
    EXPECT_EQ(live.outputWidth, 324);
    EXPECT_EQ(live.outputHeight, 204);
    EXPECT_EQ(uint32_t(live.liveWindow), uint32_t(companion.id()));
    EXPECT_FALSE(window.border().isVisible());   // only a screen area gets the frame

    spin(1000);
    companion.quit();
    ASSERT_TRUE(waitFor([&] { return window.session().state() == kStateIdle; }, 5000));
    EXPECT_TRUE(waitFor([&] { return boxes.shown.contains("Your recording is now ready. Do you want to review it?"); }, 3000))
        << boxes.shown.join(" | ").toStdString();
    EXPECT_TRUE(window.isVisible());
    window.onCommand(ID_TRAY_EXIT);
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("TORVANE COMMUNICATIONS"));
    QApplication::setApplicationName(QStringLiteral("TorvaneRecorder"));
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
