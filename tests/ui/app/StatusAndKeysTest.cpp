#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QObject>

#include "AppTestSupport.h"
#include "app/KeyState.h"
#include "app/KeyUpForwarder.h"
#include "app/StatusText.h"
#include "engine/CaptureSession.h"
#include "platform/core/WindowMessage.h"
#include "platform/hook/HotkeyKeys.h"

using namespace torvane;

TEST(StatusText, TimeFormatWrapsHoursAndDoesNotPadMilliseconds) {
    EXPECT_EQ(formatRecordedTime(83456), "00:01:23:456");
    EXPECT_EQ(formatRecordedTime(5), "00:00:00:5");
    EXPECT_EQ(formatRecordedTime(7005), "00:00:07:5");
    EXPECT_EQ(formatRecordedTime(90000000u), "01:00:00:0");   // 25 hours
    EXPECT_EQ(formatRecordedTime(0xFFFFFFFFu), "17:02:47:295");   // the clock's wrap point
}

TEST(StatusText, TextsByState) {
    EXPECT_EQ(statusText(kStateIdle, 1234), "Torvane Live Screen Recorder 1.2");
    EXPECT_EQ(statusText(kStateReady, 1234), "Recorder Ready");
    EXPECT_EQ(statusText(kStateRecording, 83456), "Now Recording - 00:01:23:456");
    EXPECT_EQ(statusText(kStatePaused, 5), "Recorder Paused - 00:00:00:5");
}

namespace {
// Collects the window messages posted to it.
class MessageSink : public QObject {
public:
    std::vector<std::tuple<uint32_t, uintptr_t, intptr_t>> got;
    bool event(QEvent* e) override {
        if (e->type() != WindowMessageEvent::eventType()) return QObject::event(e);
        auto* m = static_cast<WindowMessageEvent*>(e);
        got.emplace_back(m->message, m->wParam, m->lParam);
        return true;
    }
};
}  // namespace

TEST(KeyUpForwarding, KeyReleasesBecomeShortcutMessagesWithTheirModifiers) {
    MessageSink sink;
    const QKeyEvent pressS(QEvent::KeyPress, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    const QKeyEvent releaseS(QEvent::KeyRelease, Qt::Key_S, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    const QKeyEvent repeatP(QEvent::KeyRelease, Qt::Key_P, Qt::ControlModifier, QString(), true);
    const QKeyEvent releaseF1(QEvent::KeyRelease, Qt::Key_F1, Qt::NoModifier);
    const QKeyEvent releaseI(QEvent::KeyRelease, Qt::Key_I, Qt::NoModifier);
    EXPECT_FALSE(forwardKeyUp(&sink, &pressS));
    EXPECT_TRUE(forwardKeyUp(&sink, &releaseS));
    EXPECT_FALSE(forwardKeyUp(&sink, &repeatP));
    EXPECT_FALSE(forwardKeyUp(&sink, &releaseF1));
    EXPECT_TRUE(forwardKeyUp(&sink, &releaseI));
    EXPECT_FALSE(forwardKeyUp(nullptr, &releaseI));
    test::spin(30);
    ASSERT_EQ(sink.got.size(), 2u);
    EXPECT_EQ(std::get<0>(sink.got[0]), WM_RECORDER_HOTKEY);
    EXPECT_EQ(std::get<1>(sink.got[0]), VK_SHORTCUT_STOP);
    const ModifierState s = shortcutModifiers(std::get<2>(sink.got[0]));
    EXPECT_TRUE(s.control && s.alt);
    EXPECT_EQ(std::get<1>(sink.got[1]), VK_SHORTCUT_PIP);
    const ModifierState none = shortcutModifiers(std::get<2>(sink.got[1]));
    EXPECT_FALSE(none.control || none.alt);
}
