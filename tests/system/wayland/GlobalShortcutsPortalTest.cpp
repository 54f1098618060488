// The shortcuts client against a stand-in portal (FakeShortcutsPortal) on a private session bus
// that has no other services, so nothing answers once the stand-in is gone.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/core/WindowMessage.h"
#include "platform/hook/HotkeyKeys.h"
#include "platform/wayland/GlobalShortcutsPortal.h"

namespace torvane::wayland {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");

bool waitFor(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Stands for the recorder window: keeps every shortcut message it is sent.
class Receiver : public QObject {
public:
    struct Hotkey {
        uintptr_t key;
        intptr_t state;
    };
    std::vector<Hotkey> got;
    bool event(QEvent* e) override {
        if (e->type() != WindowMessageEvent::eventType()) return QObject::event(e);
        const auto* m = static_cast<WindowMessageEvent*>(e);
        if (m->message == WM_RECORDER_HOTKEY) got.push_back({m->wParam, m->lParam});
        return true;
    }
};

class GlobalShortcutsPortalTest : public ::testing::Test {
protected:
    void TearDown() override {
        client_.reset();
        stopPortal();
    }

    void startPortal(const QStringList& args = {}) {
        portal_ = std::make_unique<QProcess>();
        portal_->setProcessChannelMode(QProcess::ForwardedChannels);
        portal_->start(QStringLiteral(FAKE_PORTAL), args);
        ASSERT_TRUE(portal_->waitForStarted());
        ASSERT_TRUE(waitFor([] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(kService); }))
            << "the stand-in portal did not take its name";
    }
    void stopPortal() {
        if (!portal_) return;
        portal_->terminate();
        portal_->waitForFinished();
        portal_.reset();
    }

    QVariant control(const char* method, const QList<QVariant>& args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/portal/desktop"),
                                                        QStringLiteral("org.torvane.test.ShortcutsPortal"),
                                                        QLatin1String(method));
        m.setArguments(args);
        const QDBusMessage reply = QDBusConnection::sessionBus().call(m, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << method << ": " << reply.errorMessage().toStdString();
        return reply.arguments().value(0);
    }

    void bindClient() {
        client_ = std::make_unique<GlobalShortcutsPortal>(&receiver_);
        EXPECT_TRUE(client_->start());
        ASSERT_TRUE(waitFor([&] { return client_->state() != GlobalShortcutsPortal::State::Binding; }));
        ASSERT_EQ(client_->state(), GlobalShortcutsPortal::State::Bound) << client_->lastError();
    }

    std::unique_ptr<QProcess> portal_;
    Receiver receiver_;
    std::unique_ptr<GlobalShortcutsPortal> client_;
};

TEST_F(GlobalShortcutsPortalTest, BindsTheThreeShortcutsAndDeliversEachActivationToItsAction) {
    startPortal();
    EXPECT_TRUE(globalShortcutsOffered());
    int boundSignals = 0;
    client_ = std::make_unique<GlobalShortcutsPortal>(&receiver_);
    QObject::connect(client_.get(), &GlobalShortcutsPortal::bound, [&] { ++boundSignals; });
    ASSERT_TRUE(client_->start());
    ASSERT_TRUE(waitFor([&] { return client_->state() != GlobalShortcutsPortal::State::Binding; }));
    ASSERT_EQ(client_->state(), GlobalShortcutsPortal::State::Bound) << client_->lastError();
    EXPECT_EQ(boundSignals, 1);

    const QStringList bound = control("Bound").toString().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(bound.size(), 3) << bound.join(';').toStdString();
    const char* expected[][2] = {{"stop", "CTRL+ALT+s"}, {"pause-resume", "CTRL+ALT+p"}, {"webcam", "CTRL+ALT+i"}};
    for (int i = 0; i < 3; ++i) {
        const QStringList f = bound[i].split('|');
        ASSERT_EQ(f.size(), 3);
        EXPECT_EQ(f[0], QLatin1String(expected[i][0]));
        EXPECT_FALSE(f[1].isEmpty()) << "a shortcut without a description";
        EXPECT_EQ(f[2], QLatin1String(expected[i][1]));
    }
    EXPECT_EQ(client_->triggerOf(GlobalShortcutsPortal::kStop), QStringLiteral("Press CTRL+ALT+s"));

    // Each activation reaches its action, with the modifiers the window asks for whatever trigger
    // the user bound. A stranger's session and an id we never bound are ignored; the activation
    // after them shows they were handled, as signals come in order.
    control("Activate", {QStringLiteral("stop"), false});
    control("Activate", {QStringLiteral("reboot"), true});
    control("Activate", {QStringLiteral("stop"), true});
    control("Activate", {QStringLiteral("pause-resume"), true});
    control("Activate", {QStringLiteral("webcam"), true});
    ASSERT_TRUE(waitFor([&] { return receiver_.got.size() >= 3; })) << receiver_.got.size();
    QCoreApplication::processEvents();
    ASSERT_EQ(receiver_.got.size(), 3u);
    const uintptr_t keys[] = {VK_SHORTCUT_STOP, VK_SHORTCUT_PAUSE, VK_SHORTCUT_PIP};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(receiver_.got[i].key, keys[i]);
        EXPECT_EQ(receiver_.got[i].state & (kHotkeyStateKnown | kHotkeyControl | kHotkeyAlt),
                  kHotkeyStateKnown | kHotkeyControl | kHotkeyAlt);
    }

    // Done with, the client closes its session so the desktop drops the bindings.
    client_.reset();
    EXPECT_TRUE(waitFor([&] { return control("ClosedSessions").toInt() == 1; }));
}

TEST_F(GlobalShortcutsPortalTest, ARefusedBindIsReportedAndDeliversNothing) {
    startPortal({QStringLiteral("--refuse")});
    int failedSignals = 0;
    client_ = std::make_unique<GlobalShortcutsPortal>(&receiver_);
    QObject::connect(client_.get(), &GlobalShortcutsPortal::failed, [&] { ++failedSignals; });
    ASSERT_TRUE(client_->start());
    ASSERT_TRUE(waitFor([&] { return client_->state() != GlobalShortcutsPortal::State::Binding; }));
    EXPECT_EQ(client_->state(), GlobalShortcutsPortal::State::Failed);
    EXPECT_EQ(failedSignals, 1);
    EXPECT_EQ(client_->lastError(), "the desktop refused the shortcuts Ctrl+Alt+S, Ctrl+Alt+P and Ctrl+Alt+I");
    // The half-made session is closed, and its activations are not taken.
    EXPECT_TRUE(waitFor([&] { return control("ClosedSessions").toInt() == 1; }));
    control("Activate", {QStringLiteral("stop"), true});
    control("ClosedSessions");   // a round trip after the signal
    QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
    EXPECT_TRUE(receiver_.got.empty());
}

TEST_F(GlobalShortcutsPortalTest, ThePortalGoingAwayIsReported) {
    startPortal();
    bindClient();
    int failedSignals = 0;
    QObject::connect(client_.get(), &GlobalShortcutsPortal::failed, [&] { ++failedSignals; });
    stopPortal();
    ASSERT_TRUE(waitFor([&] { return failedSignals > 0; }));
    EXPECT_EQ(failedSignals, 1);
    EXPECT_EQ(client_->state(), GlobalShortcutsPortal::State::Failed);
    EXPECT_EQ(client_->lastError(), "the desktop's shortcut service went away");
    // A portal that comes back is bound again by a new start.
    startPortal();
    ASSERT_TRUE(client_->start());
    ASSERT_TRUE(waitFor([&] { return client_->state() != GlobalShortcutsPortal::State::Binding; }));
    ASSERT_EQ(client_->state(), GlobalShortcutsPortal::State::Bound) << client_->lastError();
    control("Activate", {QStringLiteral("pause-resume"), true});
    ASSERT_TRUE(waitFor([&] { return !receiver_.got.empty(); }));
    EXPECT_EQ(receiver_.got[0].key, VK_SHORTCUT_PAUSE);
}

TEST_F(GlobalShortcutsPortalTest, WithoutAPortalTheStartFailsClearly) {
    EXPECT_FALSE(globalShortcutsOffered());
    client_ = std::make_unique<GlobalShortcutsPortal>(&receiver_);
    client_->start();
    ASSERT_TRUE(waitFor([&] { return client_->state() != GlobalShortcutsPortal::State::Binding; }));
    EXPECT_EQ(client_->state(), GlobalShortcutsPortal::State::Failed);
    EXPECT_EQ(client_->lastError(), "no desktop portal answers on the session bus");
}

// A desktop that never answers a step: start() returns at once, the failure comes after the
// timeout with the step named, and what was asked is withdrawn. An unanswered bind stays open
// (the user may be deciding) until the client is done with it.
TEST_F(GlobalShortcutsPortalTest, AStepNeverAnsweredFailsAfterTheTimeoutAndIsWithdrawn) {
    constexpr std::chrono::milliseconds kTimeout{800};
    struct Case {
        const char* silent;
        const char* reason;
        int withdrawnAtFailure, withdrawnAtEnd, sessionsClosed;
    };
    const Case cases[] = {
        {"version", "the desktop's portal did not answer within 1 s", 0, 0, 0},
        {"CreateSession", "the desktop's shortcut service did not answer CreateSession within 1 s", 1, 1, 0},
        {"BindShortcuts", "the desktop's shortcut service did not answer BindShortcuts within 1 s", 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.silent);
        startPortal({QStringLiteral("--silent"), QLatin1String(c.silent)});
        int failedSignals = 0;
        client_ = std::make_unique<GlobalShortcutsPortal>(&receiver_, nullptr, kTimeout);
        QObject::connect(client_.get(), &GlobalShortcutsPortal::failed, [&] { ++failedSignals; });
        QElapsedTimer t;
        t.start();
        ASSERT_TRUE(client_->start());
        EXPECT_LT(t.elapsed(), 500) << "start() waited for the desktop";
        ASSERT_TRUE(waitFor([&] { return failedSignals > 0; }));
        // Coarse timers may fire a little early; a failure well before the timeout is a fault.
        EXPECT_GE(t.elapsed(), kTimeout.count() * 9 / 10);
        EXPECT_EQ(client_->state(), GlobalShortcutsPortal::State::Failed);
        EXPECT_EQ(client_->lastError(), c.reason);
        EXPECT_EQ(control("ClosedRequests").toInt(), c.withdrawnAtFailure);
        client_.reset();
        EXPECT_TRUE(waitFor([&] { return control("ClosedRequests").toInt() == c.withdrawnAtEnd; }))
            << control("ClosedRequests").toInt();
        EXPECT_EQ(control("ClosedSessions").toInt(), c.sessionsClosed);
        EXPECT_EQ(failedSignals, 1);
        stopPortal();
    }
}

// The bind answered only after the timeout: a grant still binds the shortcuts (bound() after
// failed()), a refusal leaves them failed and closes the session.
TEST_F(GlobalShortcutsPortalTest, ABindAnsweredAfterTheTimeoutCountsWhenGranted) {
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "refused late" : "granted late");
        QStringList args{QStringLiteral("--bind-delay"), QStringLiteral("1500")};
        if (refuse) args << QStringLiteral("--refuse");
        startPortal(args);
        int failedSignals = 0, boundSignals = 0;
        client_ = std::make_unique<GlobalShortcutsPortal>(&receiver_, nullptr, std::chrono::milliseconds(300));
        QObject::connect(client_.get(), &GlobalShortcutsPortal::failed, [&] { ++failedSignals; });
        QObject::connect(client_.get(), &GlobalShortcutsPortal::bound, [&] { ++boundSignals; });
        ASSERT_TRUE(client_->start());
        ASSERT_TRUE(waitFor([&] { return failedSignals > 0; }));
        EXPECT_EQ(boundSignals, 0);
        EXPECT_NE(client_->lastError().find("BindShortcuts"), std::string::npos) << client_->lastError();
        if (refuse) {
            ASSERT_TRUE(waitFor([&] { return control("ClosedSessions").toInt() == 1; }));
            EXPECT_EQ(client_->state(), GlobalShortcutsPortal::State::Failed);
            control("Activate", {QStringLiteral("stop"), true});
            control("ClosedSessions");   // a round trip after the signal
            QCoreApplication::processEvents(QEventLoop::AllEvents, 200);
            EXPECT_TRUE(receiver_.got.empty());
        } else {
            ASSERT_TRUE(waitFor([&] { return boundSignals > 0; }));
            EXPECT_EQ(client_->state(), GlobalShortcutsPortal::State::Bound);
            control("Activate", {QStringLiteral("webcam"), true});
            ASSERT_TRUE(waitFor([&] { return !receiver_.got.empty(); }));
            EXPECT_EQ(receiver_.got[0].key, VK_SHORTCUT_PIP);
            receiver_.got.clear();
        }
        EXPECT_EQ(failedSignals, 1);
        EXPECT_EQ(control("ClosedRequests").toInt(), 0) << "an answered request was withdrawn";
        client_.reset();
        stopPortal();
    }
}

}  // namespace
}  // namespace torvane::wayland

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
