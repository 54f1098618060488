// torvane-record on a private display: real recordings checked with ffprobe and ffmpeg.

#include <gtest/gtest.h>
#include <signal.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>

namespace {

QString envDir() { return QString::fromLocal8Bit(qgetenv("TORVANE_TEST_ENV")); }

QString outPath(const char* name) { return envDir() + "/" + name; }

struct ToolRun {
    int exitCode = -1;
    QString err;
    qint64 wallMs = 0;
};

// Waits until the tool reports that recording began, so signals and window changes hit a running recording.
bool waitForRecording(QProcess& p, QString& err, int timeoutMs = 10000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        p.waitForReadyRead(100);
        err += QString::fromLocal8Bit(p.readAllStandardError());
        if (err.contains("recording to")) return true;
        if (p.state() == QProcess::NotRunning) return false;
    }
    return false;
}

ToolRun finish(QProcess& p, QString err, const QElapsedTimer& t, int timeoutMs = 30000) {
    ToolRun r;
    if (!p.waitForFinished(timeoutMs)) p.kill(), p.waitForFinished();
    r.err = err + QString::fromLocal8Bit(p.readAllStandardError());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.wallMs = t.elapsed();
    return r;
}

ToolRun record(const QStringList& args) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(TORVANE_RECORD_EXE, args);
    return finish(p, {}, t);
}

QString tool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
}

// "key=value" lines of the video stream.
QString videoStream(const QString& file) {
    return tool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                            "stream=codec_name,codec_tag_string,width,height", "-of", "default=nw=1", file});
}

// Positions of the video time line: pictures and the empty entries of unchanged positions
// (ffprobe's packet count leaves the empty ones out).
int videoPackets(const QString& file) {
    return tool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "stream=nb_frames", "-of",
                            "csv=p=0", file})
        .toInt();
}

QString decodeErrors(const QString& file) { return tool("ffmpeg", {"-v", "error", "-i", file, "-f", "null", "-"}); }

class RecordToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Every test starts from a first run: no stored record, no stored session window.
        QDir(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + "/TORVANE COMMUNICATIONS").removeRecursively();
    }
};

TEST_F(RecordToolTest, RecordsThreeSecondsOfFullScreenAtEightFpsToTheDefaultFile) {
    const QString file = QString::fromLocal8Bit(qgetenv("XDG_DOCUMENTS_DIR")) + "/unitled.avi";
    const ToolRun r = record({"--seconds", "3", "--fps", "8", "--source", "full", "--sound", "off"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("frames written")) << r.err.toStdString();
    EXPECT_GE(r.err.count("recorded 00:00:0"), 2) << "progress once a second:\n" << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("wrote " + file + ": 3.")) << r.err.toStdString();

    const QString stream = videoStream(file);
    EXPECT_TRUE(stream.contains("codec_name=h264")) << stream.toStdString();
    EXPECT_TRUE(stream.contains("codec_tag_string=x264")) << stream.toStdString();
    EXPECT_TRUE(stream.contains("width=1280")) << stream.toStdString();
    EXPECT_TRUE(stream.contains("height=720")) << stream.toStdString();
    EXPECT_EQ(decodeErrors(file), "");
    const int packets = videoPackets(file);
    EXPECT_GE(packets, 20);
    EXPECT_LE(packets, 28);
}

TEST_F(RecordToolTest, SizeChoiceAndAreaShapeTheVideo) {
    const QString file = outPath("area.avi");
    const ToolRun r = record({"--seconds", "1", "--area", "10,20,260,170", "--size-choice", "2", "--sound", "off",
                          "--out", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // 250 x 150 becomes 252 x 200, halved to 126 x 100.
    const QString stream = videoStream(file);
    EXPECT_TRUE(stream.contains("width=126")) << stream.toStdString();
    EXPECT_TRUE(stream.contains("height=100")) << stream.toStdString();
    EXPECT_EQ(decodeErrors(file), "");
}

TEST_F(RecordToolTest, SigintStopsCleanlyAndCompletesTheFile) {
    const QString file = outPath("sigint.avi");
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(TORVANE_RECORD_EXE, {"--fps", "10", "--sound", "off", "--out", file});
    QString err;
    ASSERT_TRUE(waitForRecording(p, err)) << err.toStdString();
    QThread::msleep(1500);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    const ToolRun r = finish(p, err, t, 10000);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("interrupted")) << r.err.toStdString();
    EXPECT_EQ(decodeErrors(file), "");
    EXPECT_GE(videoPackets(file), 10);
}

TEST_F(RecordToolTest, PausesDoNotCountTowardsTheRecordedTime) {
    const QString file = outPath("pause.avi");
    const ToolRun r = record({"--seconds", "2", "--fps", "8", "--pause", "1,1.5", "--sound", "off", "--out", file});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_GE(r.wallMs, 3500) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("paused at 00:00:01.")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("resumed at 00:00:01.")) << r.err.toStdString();
    EXPECT_EQ(decodeErrors(file), "");
    // 2 s of recorded time at 8 fps: the 1.5 s pause leaves no gap of positions.
    const int packets = videoPackets(file);
    EXPECT_GE(packets, 13);
    EXPECT_LE(packets, 19);
}

TEST_F(RecordToolTest, WindowSourceRecordsTheStoredWindowUntilItDisappears) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t w = xcb_generate_id(c);
    const uint32_t values[] = {screen->white_pixel};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 50, 60, 300, 200, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL, values);
    xcb_map_window(c, w);
    xcb_flush(c);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));   // round trip: the window exists

    const QString file = outPath("window.avi");
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(TORVANE_RECORD_EXE, {"--window", QString("0x%1").arg(w, 0, 16), "--fps", "8", "--sound", "off", "--out", file});
    QString err;
    const bool started = waitForRecording(p, err);
    QThread::msleep(1000);
    xcb_destroy_window(c, w);
    xcb_flush(c);
    const ToolRun r = finish(p, err, t, 10000);
    xcb_disconnect(c);
    ASSERT_TRUE(started) << r.err.toStdString();
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("disappeared")) << r.err.toStdString();

    // Stored the way the companion program stores it: a plain integer.
    QFile conf(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + "/TORVANE COMMUNICATIONS/TorvaneRecorder.conf");
    ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(conf.readAll().contains("Hwnd=" + QByteArray::number(w)));

    const QString stream = videoStream(file);
    EXPECT_TRUE(stream.contains("width=300")) << stream.toStdString();
    EXPECT_TRUE(stream.contains("height=200")) << stream.toStdString();
    EXPECT_EQ(decodeErrors(file), "");
}

TEST_F(RecordToolTest, RefusalsAndFailuresHaveClearMessagesAndExitCodes) {
    ToolRun r = record({"--fps", "0"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("--fps")) << r.err.toStdString();
    r = record({"--size-choice", "9"});
    EXPECT_EQ(r.exitCode, 2);
    r = record({"--bogus"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("usage:")) << r.err.toStdString();

    r = record({"--source", "window", "--seconds", "1", "--sound", "off", "--out", outPath("nowindow.avi")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Torvane Live however is not started")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(outPath("nowindow.avi")));

    const QString missing = outPath("no/such/folder/x.avi");
    r = record({"--seconds", "1", "--sound", "off", "--out", missing});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Could not create the file named " + missing)) << r.err.toStdString();
}

TEST_F(RecordToolTest, AbsurdStoredSettingsAreRefusedNotCrashedOn) {
    // A record a broken companion or an old version could leave behind: frame rate 0, source 9.
    int32_t screen[12] = {9, 0, 0, 640, 480, 640, 480, 0, 0, 0, 1, 0};
    {
        QSettings store(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + "/TORVANE COMMUNICATIONS/TorvaneRecorder.conf",
                        QSettings::IniFormat);
        store.setValue("MovieProperty/Screen", QByteArray(reinterpret_cast<const char*>(screen), sizeof screen));
    }
    const ToolRun r = record({"--seconds", "1", "--sound", "off", "--out", outPath("absurd.avi")});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_FALSE(r.err.trimmed().isEmpty());
    // With a frame rate the dialogs allow, the source kind 9 alone is still refused.
    const ToolRun again = record({"--seconds", "1", "--fps", "8", "--sound", "off", "--out", outPath("absurd.avi")});
    EXPECT_EQ(again.exitCode, 1) << again.err.toStdString();
}

}  // namespace
