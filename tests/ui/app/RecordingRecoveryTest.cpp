// The recorder remembers the file of a recording in progress; a recording it never finished (the
// program was killed) is repaired at its next start and the user is told what was recovered.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>

#include "AppTestSupport.h"
#include "app/RecorderResources.h"
#include "app/RecordingRecovery.h"
#include "app/TorvaneRecorderDlg.h"
#include "platform/ui/MessageBox.h"
#include "settings/SettingsStore.h"

using namespace torvane;

namespace {

std::string storedInProgress() { return readRecordingInProgress(*openSettingsStore()); }

QString ffprobe(const QStringList& args) {
    QProcess p;
    p.start("ffprobe", QStringList{"-v", "error"} + args);
    p.waitForFinished(60000);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

}  // namespace

TEST(RecordingRecovery, AnUnfinishedRecordingIsRepairedAtTheNextStartAndReported) {
    test::UiRecorder ui;
    auto window = std::make_unique<CTorvaneRecorderDlg>(CTorvaneRecorderDlg::Options{false});
    window->setCountdownRunner([](CTorvaneRecorderDlg&) { return int(QDialog::Accepted); });
    window->show();
    const std::string file = test::testFile("in-progress.avi");
    QFile::remove(QString::fromStdString(file));
    test::storeCaptureFileName(file);
    window->applyCaptureSettings(test::areaRecording(file));
    window->buttonUpdate();
    window->onCommand(IDC_START);
    ASSERT_EQ(window->session().state(), kStateRecording) << window->session().lastError();
    EXPECT_EQ(storedInProgress(), file);

    // What a killed recorder leaves: the file as it is on disk in the middle of the recording.
    test::spin(2500);
    const QString crashed = QString::fromStdString(test::testFile("crashed.avi"));
    QFile::remove(crashed);
    ASSERT_TRUE(QFile::copy(QString::fromStdString(file), crashed));
    ASSERT_TRUE(window->session().stop());
    window->buttonUpdate();
    EXPECT_EQ(storedInProgress(), "") << "a finished recording is not one to repair";
    window.reset();
    ui.boxes.clear();

    // The next start with the crashed recording remembered.
    writeRecordingInProgress(*openSettingsStore(), crashed.toStdString());
    const QString text = recoverUnfinishedRecording(nullptr);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, text);
    EXPECT_TRUE(text.startsWith("The last recording did not finish. " + crashed + " was repaired: kept video ("))
        << text.toStdString();
    EXPECT_EQ(ui.boxes[0].type, ui::MB_OK | ui::MB_ICONINFORMATION);
    EXPECT_EQ(storedInProgress(), "");
    EXPECT_EQ(ffprobe({"-show_entries", "stream=codec_type", "-of", "csv=p=0", crashed}), "video");
    const double seconds = ffprobe({"-show_entries", "format=duration", "-of", "csv=p=0", crashed}).toDouble();
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 4.0);

    // Nothing remembered: nothing is said.
    EXPECT_TRUE(recoverUnfinishedRecording(nullptr).isEmpty());
    EXPECT_EQ(ui.boxes.size(), 1u);

    // A remembered file that is gone, or one that cannot be repaired, is reported as such.
    const std::string gone = test::testFile("gone.avi");
    QFile::remove(QString::fromStdString(gone));
    writeRecordingInProgress(*openSettingsStore(), gone);
    EXPECT_TRUE(recoverUnfinishedRecording(nullptr).contains("is gone")) << ui.boxes.back().text.toStdString();
    EXPECT_EQ(ui.boxes.back().type, ui::MB_OK | ui::MB_ICONWARNING);
    const QString junk = QString::fromStdString(test::testFile("junk.avi"));
    {
        QFile f(junk);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("RIFF\0\0\0\0AVI garbage", 20);
    }
    writeRecordingInProgress(*openSettingsStore(), junk.toStdString());
    EXPECT_TRUE(recoverUnfinishedRecording(nullptr).contains("could not be repaired"))
        << ui.boxes.back().text.toStdString();
    EXPECT_EQ(storedInProgress(), "");

    // A hand-edited value that is no absolute path is not acted on.
    writeRecordingInProgress(*openSettingsStore(), "relative/x.avi");
    EXPECT_TRUE(recoverUnfinishedRecording(nullptr).isEmpty());
}
