// torvane-record killed with SIGKILL mid-recording leaves a file that plays: both streams, a
// duration close to the moment of the kill, seekable; damaged files are repaired by --repair.

#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace {

QString envDir() { return QString::fromLocal8Bit(qgetenv("TORVANE_TEST_ENV")); }

struct Output {
    int exitCode = -1;
    QString text;
};

Output run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000)) p.kill(), p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError()).trimmed()};
}

double ffprobeDuration(const QString& file) {
    bool ok = false;
    const double d = run("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", file})
                         .text.toDouble(&ok);
    return ok ? d : -1;
}

QString ffprobeStreams(const QString& file) {
    return run("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0", file})
        .text.split('\n').join(',');
}

// gst-discoverer's duration in seconds and stream kinds.
struct Discovered {
    double seconds = -1;
    bool video = false, audio = false, seekable = false;
};

Discovered discover(const QString& file) {
    const QString out = run("gst-discoverer-1.0", {file}).text;
    Discovered d;
    const auto m = QRegularExpression(R"(Duration: (\d+):(\d+):(\d+\.\d+))").match(out);
    if (m.hasMatch()) d.seconds = m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble();
    d.video = out.contains(QRegularExpression(R"(video #\d+: )"));
    d.audio = out.contains(QRegularExpression(R"(audio #\d+: )"));
    d.seekable = out.contains("Seekable: yes");
    return d;
}

// A decodable picture `at` seconds in, found by seeking.
bool seeksTo(const QString& file, double at) {
    const Output o = run("ffmpeg", {"-v", "error", "-ss", QString::number(at, 'f', 2), "-i", file, "-frames:v", "1",
                                    "-f", "framemd5", "-"});
    return o.exitCode == 0 && o.text.contains(QRegularExpression(R"(\n0,\s+)")) ;
}

// Starts a recording with sound and kills it `cutSeconds` after it reported that it records.
// Returns the seconds from that report to the kill.
double recordAndKill(const QString& file, double cutSeconds) {
    // A changing screen, so the file holds pictures throughout (a still one holds one picture).
    QProcess painter;
    painter.start("sh", {"-c", "while :; do xsetroot -solid '#c03030'; sleep 0.1; xsetroot -solid '#3030c0'; sleep 0.1; done"});
    painter.waitForStarted();
    QProcess p;
    p.start(TORVANE_RECORD_EXE, {"--fps", "10", "--sound", "mic", "--out", file});
    QString err;
    QElapsedTimer t;
    t.start();
    while (!err.contains("recording to") && t.elapsed() < 15000 && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(50);
        err += QString::fromLocal8Bit(p.readAllStandardError());
    }
    if (!err.contains("recording to")) return -1;
    QElapsedTimer since;
    since.start();
    while (since.elapsed() < qint64(cutSeconds * 1000)) p.waitForFinished(20);
    const double cut = since.elapsed() / 1000.0;
    ::kill(pid_t(p.processId()), SIGKILL);
    p.waitForFinished(10000);
    painter.kill();
    painter.waitForFinished();
    return cut;
}

void expectPlayable(const QString& file, double cut) {
    SCOPED_TRACE(file.toStdString());
    EXPECT_EQ(ffprobeStreams(file), "video,audio");
    const double d = ffprobeDuration(file);
    // The file covers the last refresh (at most a second old); the recording started a moment
    // after its report, and a busy machine may be late with the last refresh by a little.
    EXPECT_GE(d, cut - 1.5) << "ffprobe duration";
    EXPECT_LE(d, cut + 0.5) << "ffprobe duration";
    const Discovered g = discover(file);
    EXPECT_TRUE(g.video);
    EXPECT_TRUE(g.audio);
    EXPECT_TRUE(g.seekable);
    EXPECT_NEAR(g.seconds, d, 1.0) << "gst-discoverer duration";
    EXPECT_TRUE(seeksTo(file, d / 2)) << "seek to the middle";
    const Output decode = run("ffmpeg", {"-v", "error", "-i", file, "-f", "null", "-"});
    EXPECT_EQ(decode.exitCode, 0) << decode.text.toStdString();
}

}  // namespace

TEST(CrashFile, KilledRecordingsPlayUpToAboutTheMomentOfTheKill) {
    for (const double at : {1.5, 3.5, 6.5}) {
        const QString file = envDir() + QString("/killed-%1.avi").arg(at);
        const double cut = recordAndKill(file, at);
        ASSERT_GT(cut, 0) << "the recording did not start";
        expectPlayable(file, cut);
    }
}

// The same for MP4, whose fragments reach the disk twice a second; a browser plays it to its end.
TEST(CrashFile, KilledMp4RecordingsPlayUpToAboutTheMomentOfTheKill) {
    for (const double at : {1.5, 3.5, 6.5}) {
        const QString file = envDir() + QString("/killed-%1.mp4").arg(at);
        const double cut = recordAndKill(file, at);
        ASSERT_GT(cut, 0) << "the recording did not start";
        expectPlayable(file, cut);
        const Output browser = run("/usr/bin/python3", {BROWSER_PLAY, file, "60"});
        const auto m = QRegularExpression(R"("duration": ([0-9.]+), "currentTime": ([0-9.]+), "ended": true)")
                           .match(browser.text);
        ASSERT_TRUE(m.hasMatch()) << "the browser did not play it to its end: " << browser.text.toStdString();
        EXPECT_NEAR(m.captured(1).toDouble(), ffprobeDuration(file), 0.1) << browser.text.toStdString();
        EXPECT_GE(m.captured(1).toDouble(), cut - 1.5) << browser.text.toStdString();
    }
}

namespace {

QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& file, const QByteArray& bytes) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

Output repair(const QString& file) { return run(TORVANE_RECORD_EXE, {"--repair", file}); }

// "...: 00:00:04.4; dropped 123 bytes" of the report.
double reportedSeconds(const QString& text) {
    const auto m = QRegularExpression(R"((\d+):(\d+):(\d+\.\d))").match(text);
    return m.hasMatch() ? m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble() : -1;
}

}  // namespace

// Files a recorder died on before any refresh, cut at odd places or with damaged bytes inside:
// --repair rebuilds them from their intact chunks and says what it kept.
TEST(CrashFile, RepairRebuildsTruncatedAndGarbledFiles) {
    const QString source = envDir() + "/source.avi";
    const double cut = recordAndKill(source, 3.5);
    ASSERT_GT(cut, 0) << "the recording did not start";
    const QByteArray whole = readAll(source);
    ASSERT_GT(whole.size(), 100000);

    // What a writer leaves before its first refresh: sizes and lengths still 0, no index.
    QByteArray fresh = whole;
    fresh.replace(4, 4, QByteArray(4, '\0'));
    const QString unrefreshed = envDir() + "/unrefreshed.avi";
    writeAll(unrefreshed, fresh.left(int(whole.size() * 0.7) + 3));   // cut inside a chunk
    Output r = repair(unrefreshed);
    EXPECT_EQ(r.exitCode, 0) << r.text.toStdString();
    EXPECT_TRUE(r.text.contains("kept video (x264")) << r.text.toStdString();
    EXPECT_TRUE(r.text.contains("sound (")) << r.text.toStdString();
    EXPECT_GT(reportedSeconds(r.text), 1.0) << r.text.toStdString();
    EXPECT_EQ(ffprobeStreams(unrefreshed), "video,audio");
    EXPECT_NEAR(ffprobeDuration(unrefreshed), reportedSeconds(r.text), 0.2);
    const Discovered g = discover(unrefreshed);
    EXPECT_TRUE(g.video && g.audio && g.seekable);
    EXPECT_NEAR(g.seconds, reportedSeconds(r.text), 0.3);
    EXPECT_TRUE(seeksTo(unrefreshed, reportedSeconds(r.text) / 2));

    // Damaged bytes in the middle, across several chunk headers: the chunks around them are kept,
    // the damage is reported.
    QByteArray garbled = whole;
    const int mid = garbled.size() / 2;
    constexpr int kDamage = 64 * 1024;
    for (int i = 0; i < kDamage; ++i) garbled[mid + i] = char((i * 131 + 7) & 0xff);
    const QString damaged = envDir() + "/garbled.avi";
    writeAll(damaged, garbled);
    r = repair(damaged);
    EXPECT_EQ(r.exitCode, 0) << r.text.toStdString();
    const auto dropped = QRegularExpression(R"(dropped (\d+) bytes)").match(r.text);
    ASSERT_TRUE(dropped.hasMatch()) << r.text.toStdString();
    EXPECT_GT(dropped.captured(1).toLongLong(), 0);
    EXPECT_LE(dropped.captured(1).toLongLong(), kDamage + 200000);
    EXPECT_EQ(ffprobeStreams(damaged), "video,audio");
    EXPECT_GT(ffprobeDuration(damaged), cut - 2.5);
    const Output decode = run("ffmpeg", {"-v", "error", "-i", damaged, "-f", "null", "-"});
    EXPECT_EQ(decode.exitCode, 0);
    const Discovered gd = discover(damaged);
    EXPECT_TRUE(gd.video && gd.audio);

    // Nothing to recover: the file is left alone and the exit status says so.
    const QString headerOnly = envDir() + "/header-only.avi";
    writeAll(headerOnly, whole.left(3000));
    r = repair(headerOnly);
    EXPECT_EQ(r.exitCode, 1) << r.text.toStdString();
    EXPECT_TRUE(r.text.contains("nothing was recovered")) << r.text.toStdString();
    EXPECT_EQ(readAll(headerOnly), whole.left(3000));
    const QString notAvi = envDir() + "/text.avi";
    writeAll(notAvi, "just some text, not a recording\n");
    r = repair(notAvi);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.text.contains("not an AVI file")) << r.text.toStdString();
    r = repair(envDir() + "/missing.avi");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.text.contains("No such file")) << r.text.toStdString();
}
