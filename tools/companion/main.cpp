// A stand-in for the companion live-session program: it opens a session window and stores the
// window's X11 id as "Hwnd" of "SessionWindow" in the recorder's settings store, so that the
// recorder can record it (source kind 3). Closing the window clears the entry.
//
//   torvane-companion [WIDTHxHEIGHT+X+Y]

#include <QApplication>
#include <QSocketNotifier>
#include <QPainter>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "settings/SettingsStore.h"

namespace {

// A window with moving content, so a recording of it visibly changes from frame to frame.
class SessionWindow : public QWidget {
public:
    SessionWindow() {
        setWindowTitle(QStringLiteral("Torvane Live - Session"));
        connect(&tick_, &QTimer::timeout, this, [this] {
            ++frame_;
            update();
        });
        tick_.start(40);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(20, 60, 110));
        p.setPen(Qt::white);
        QFont f = font();
        f.setPointSize(18);
        p.setFont(f);
        p.drawText(rect().adjusted(0, 20, 0, 0), Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Torvane Live session"));
        const int x = (frame_ * 4) % qMax(1, width() - 40);
        p.fillRect(x, height() / 2 - 20, 40, 40, QColor(250, 200, 30));
    }

private:
    QTimer tick_;
    int frame_ = 0;
};

int g_quitPipe[2] = {-1, -1};

void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(g_quitPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // SIGTERM and Ctrl+C end the program normally, so that the stored id is cleared.
    if (pipe(g_quitPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_quitPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QApplication::quit);
        std::signal(SIGTERM, onTerminate);
        std::signal(SIGINT, onTerminate);
    }
    SessionWindow window;
    QRect geometry(40, 40, 640, 360);
    if (argc > 1) {
        const QRegularExpression re(QStringLiteral("^(\\d+)x(\\d+)\\+(\\d+)\\+(\\d+)$"));
        const QRegularExpressionMatch m = re.match(QString::fromLocal8Bit(argv[1]));
        if (!m.hasMatch()) {
            std::fprintf(stderr, "usage: %s [WIDTHxHEIGHT+X+Y]\n", argv[0]);
            return 2;
        }
        geometry = QRect(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
        if (geometry.width() < 1 || geometry.height() < 1) {
            std::fprintf(stderr, "%s: the window needs a width and height of at least 1\n", argv[0]);
            return 2;
        }
    }
    window.setGeometry(geometry);
    window.show();

    const uint64_t id = window.winId();
    {
        std::unique_ptr<QSettings> store = torvane::openSettingsStore();
        torvane::writeLiveSessionWindow(*store, id);
        store->sync();
    }
    std::printf("session window 0x%llx\n", static_cast<unsigned long long>(id));
    std::fflush(stdout);

    const int result = app.exec();
    std::unique_ptr<QSettings> store = torvane::openSettingsStore();
    if (torvane::readLiveSessionWindow(*store) == id) torvane::writeLiveSessionWindow(*store, 0);
    return result;
}
