#include "AppTestSupport.h"

#include <QDir>
#include <QThread>

#include "app/ShellOpen.h"
#include "platform/ui/MessageBox.h"
#include "settings/SettingsStore.h"

namespace torvane::test {

UiRecorder::UiRecorder() {
    ui::setMessageBoxHook([this](QWidget*, const QString& text, const QString& caption, unsigned type) {
        boxes.push_back({text, caption, type});
        if (onBox) onBox(boxes.back());
        if (!answers.empty()) {
            const int a = answers.front();
            answers.pop_front();
            return a;
        }
        return (type & 0x0F) == ui::MB_YESNO ? ui::IDNO : ui::IDOK;
    });
    setShellOpenHook([this](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
}

UiRecorder::~UiRecorder() {
    ui::setMessageBoxHook({});
    setShellOpenHook({});
}

bool UiRecorder::shown(const QString& text) const {
    for (const ShownBox& b : boxes)
        if (b.text == text) return true;
    return false;
}

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

void spin(int ms) {
    waitFor([] { return false; }, ms);
}

CaptureSettings areaRecording(const std::string& fileName, ScreenRect area) {
    CaptureSettings s;
    s.screen.sourceKind = kSourceArea;
    s.screen.rect = area;
    s.screen.outputWidth = area.width();
    s.screen.outputHeight = area.height();
    s.screen.frameRate = 10;
    s.screen.sizeChoice = 0;
    s.soundEnabled = 0;
    s.fileName = fileName;
    return s;
}

void storeCaptureFileName(const std::string& fileName) {
    std::unique_ptr<QSettings> store = openSettingsStore();
    store->setValue(QStringLiteral("MovieProperty/CaptureFileName"), QString::fromStdString(fileName));
    store->sync();
}

std::string testFile(const std::string& name) {
    const QByteArray dir = qgetenv("TORVANE_TEST_ENV");
    return QDir(dir.isEmpty() ? QDir::tempPath() : QString::fromLocal8Bit(dir)).filePath(QString::fromStdString(name)).toStdString();
}

}  // namespace torvane::test
