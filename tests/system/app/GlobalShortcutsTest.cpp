// libScreenCapture.so on a real X display: the shortcuts arrive whatever the lock keys, with the
// modifiers of the key press, only while hooked; a shortcut held by another client is refused and
// reported.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <QThread>

#include "platform/core/WindowMessage.h"
#include "platform/hook/GlobalKeyGrabber.h"
#include "platform/hook/HotkeyKeys.h"
#include "platform/hook/ScreenCapture.h"

using namespace torvane;

namespace {

class Sink : public QObject {
public:
    std::vector<std::pair<uintptr_t, intptr_t>> got;
    bool event(QEvent* e) override {
        if (e->type() != WindowMessageEvent::eventType()) return QObject::event(e);
        auto* m = static_cast<WindowMessageEvent*>(e);
        if (m->message == WM_RECORDER_HOTKEY) got.emplace_back(m->wParam, m->lParam);
        return true;
    }
};

// xdotool through posix_spawn rather than QProcess, so the test also runs under ThreadSanitizer,
// which does not allow threads in a forked child.
void press(const char* keys) {
    char program[] = "xdotool", key[] = "key";
    std::string k = keys;
    char* argv[] = {program, key, k.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, program, nullptr, nullptr, argv, environ) != 0) return;
    int status = 0;
    waitpid(pid, &status, 0);
}

bool waitCount(const Sink& s, size_t n, int ms = 2000) {
    QElapsedTimer t;
    t.start();
    while (s.got.size() < n && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return s.got.size() >= n;
}

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

}  // namespace

TEST(GlobalShortcuts, DeliveredWithEveryLockKeyAndOnlyWhileHooked) {
    Sink sink;
    ASSERT_EQ(Hook(&sink, "test"), 1);
    press("ctrl+alt+s");
    ASSERT_TRUE(waitCount(sink, 1));
    EXPECT_EQ(sink.got[0].first, VK_SHORTCUT_STOP);
    EXPECT_EQ(sink.got[0].second & (kHotkeyStateKnown | kHotkeyControl | kHotkeyAlt),
              kHotkeyStateKnown | kHotkeyControl | kHotkeyAlt);

    press("Num_Lock");
    press("ctrl+alt+p");
    press("Caps_Lock");
    press("ctrl+alt+i");
    press("ctrl+shift+alt+p");
    press("Num_Lock");
    press("Caps_Lock");
    ASSERT_TRUE(waitCount(sink, 4)) << sink.got.size();
    EXPECT_EQ(sink.got[1].first, VK_SHORTCUT_PAUSE);
    EXPECT_EQ(sink.got[2].first, VK_SHORTCUT_PIP);
    EXPECT_EQ(sink.got[3].first, VK_SHORTCUT_PAUSE);
    EXPECT_TRUE(sink.got[3].second & kHotkeyShift);

    // Letters without both modifiers are not taken from the focused program.
    press("ctrl+s");
    press("alt+p");
    settle(300);
    EXPECT_EQ(sink.got.size(), 4u);

    EXPECT_EQ(Unhook(), 1);
    press("ctrl+alt+s");
    settle(300);
    EXPECT_EQ(sink.got.size(), 4u);
    EXPECT_EQ(Unhook(), 0);   // nothing left to release
}

TEST(GlobalShortcuts, ShortcutHeldByAnotherClientIsRefusedAndNamed) {
    Sink first, second;
    GlobalKeyGrabber holder;
    std::string problems;
    ASSERT_TRUE(holder.start(&first, problems)) << problems;

    GlobalKeyGrabber late;
    EXPECT_FALSE(late.start(&second, problems));
    EXPECT_NE(problems.find("Ctrl+Alt+S: another program holds this shortcut"), std::string::npos) << problems;
    EXPECT_NE(problems.find("Ctrl+Alt+I"), std::string::npos) << problems;

    // The holder keeps the keys; once it lets go, a new grab succeeds.
    press("ctrl+alt+i");
    ASSERT_TRUE(waitCount(first, 1));
    EXPECT_TRUE(second.got.empty());
    holder.stop();
    late.stop();
    EXPECT_TRUE(late.start(&second, problems)) << problems;
    press("ctrl+alt+i");
    ASSERT_TRUE(waitCount(second, 1));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
