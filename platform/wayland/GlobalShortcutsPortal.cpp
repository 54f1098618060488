#include "platform/wayland/GlobalShortcutsPortal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include "platform/core/WindowMessage.h"
#include "platform/hook/HotkeyKeys.h"
#include "platform/wayland/PortalRequest.h"
#include "platform/wayland/PortalShortcut.h"

namespace torvane::wayland {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

constexpr uint kResponseCancelled = 1;

}  // namespace

void registerPortalShortcutTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<PortalShortcutList>();
        return true;
    }();
    (void)once;
}

bool globalShortcutsOffered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // Every portal interface has a version property; an interface the portal lacks answers an error.
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
    m << kShortcuts << QStringLiteral("version");
    const QDBusMessage reply = bus.call(m, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toUInt() > 0;
}

const QString GlobalShortcutsPortal::kStop = QStringLiteral("stop");
const QString GlobalShortcutsPortal::kPauseResume = QStringLiteral("pause-resume");
const QString GlobalShortcutsPortal::kWebcam = QStringLiteral("webcam");

GlobalShortcutsPortal::GlobalShortcutsPortal(QObject* target, QObject* parent, std::chrono::milliseconds answerTimeout)
    : QObject(parent), target_(target), answerTimeout_(answerTimeout),
      watcher_(kService, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForUnregistration) {
    registerPortalShortcutTypes();
    answerTimer_.setSingleShot(true);
    connect(&answerTimer_, &QTimer::timeout, this, &GlobalShortcutsPortal::onNoAnswer);
    connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this, &GlobalShortcutsPortal::onPortalGone);
}

GlobalShortcutsPortal::~GlobalShortcutsPortal() {
    // Not waited for: the portal drops the bindings with the session, or with our connection.
    closeAll();
}

bool GlobalShortcutsPortal::start() {
    if (state_ == State::Binding || state_ == State::Bound) return true;
    closeAll();   // a bind left waiting for the user after a timeout is given up
    triggers_.clear();
    if (!QDBusConnection::sessionBus().isConnected()) {
        fail("no session bus answers");
        return false;
    }
    state_ = State::Binding;
    askVersion();
    return true;
}

void GlobalShortcutsPortal::askVersion() {
    // Every portal interface has a version property; an interface the portal lacks answers an error.
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
    m << kShortcuts << QStringLiteral("version");
    step_ = Step::Version;
    answerTimer_.start(answerTimeout_);
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(m, -1), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (step_ != Step::Version || state_ != State::Binding) return;   // timed out or gone meanwhile
        answerTimer_.stop();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError()) {
            const QString name = reply.error().name();
            fail(name == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown")
                     ? "no desktop portal answers on the session bus"
                     : "this desktop offers no global shortcuts (" + reply.error().message().toStdString() + ")");
            return;
        }
        if (reply.value().variant().toUInt() == 0) {
            fail("this desktop offers no global shortcuts");
            return;
        }
        send(Step::CreateSession, QStringLiteral("CreateSession"), {},
             {{QStringLiteral("session_handle_token"), newPortalToken()}});
    });
}

bool GlobalShortcutsPortal::send(Step step, const QString& method, QList<QVariant> args, QVariantMap options) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = newPortalToken();
    options.insert(QStringLiteral("handle_token"), token);
    step_ = step;
    listenForResponse(portalObjectPath(bus, token));
    answerTimer_.start(answerTimeout_);

    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kShortcuts, method);
    args.append(options);
    m.setArguments(args);
    // The answer timer bounds the wait, not D-Bus's own 25 s.
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(m, -1), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, method, step](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (step_ != step || state_ == State::Bound || state_ == State::Idle) return;   // answered or gone
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            if (state_ == State::Binding)
                fail("the desktop's shortcut service refused " + method.toStdString() + ": " +
                     reply.error().message().toStdString());
            else
                closeAll();   // the bind left open after its timeout will not be answered now
            return;
        }
        // A portal older than the handle_token convention answers on a path of its own choosing.
        const QString path = reply.value().path();
        if (path != requestPath_) listenForResponse(path);
    });
    return true;
}

void GlobalShortcutsPortal::listenForResponse(const QString& path) {
    stopListening();
    requestPath_ = path;
    QDBusConnection::sessionBus().connect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                                          SLOT(onResponse(uint, QVariantMap)));
}

void GlobalShortcutsPortal::stopListening() {
    if (requestPath_.isEmpty()) return;
    QDBusConnection::sessionBus().disconnect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                                             SLOT(onResponse(uint, QVariantMap)));
    requestPath_.clear();
}

void GlobalShortcutsPortal::onResponse(uint code, const QVariantMap& results) {
    // After a timeout only the bind stays open: the user may still grant it.
    const bool late = state_ == State::Failed && step_ == Step::BindShortcuts;
    if (state_ != State::Binding && !late) return;
    answerTimer_.stop();
    stopListening();
    const Step step = step_;
    step_ = Step::None;
    if (late && code != 0) {
        closeAll();   // refused after all: the X11 grabs that took over stay
        return;
    }
    if (step == Step::CreateSession) {
        if (code != 0) {
            fail("the desktop's shortcut service made no session (answer " + std::to_string(code) + ")");
            return;
        }
        sessionPath_ = results.value(QStringLiteral("session_handle")).toString();
        if (sessionPath_.isEmpty()) {
            fail("the desktop's shortcut service made no session");
            return;
        }
        QDBusConnection::sessionBus().connect(
            kService, kPath, kShortcuts, QStringLiteral("Activated"), this,
            SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
        bindShortcuts();
        return;
    }
    if (step != Step::BindShortcuts) return;
    if (code == kResponseCancelled) {
        fail("the desktop refused the shortcuts Ctrl+Alt+S, Ctrl+Alt+P and Ctrl+Alt+I");
        return;
    }
    if (code != 0) {
        fail("the desktop's shortcut service could not bind Ctrl+Alt+S, Ctrl+Alt+P and Ctrl+Alt+I (answer " +
             std::to_string(code) + ")");
        return;
    }
    const QVariant list = results.value(QStringLiteral("shortcuts"));
    if (list.canConvert<QDBusArgument>())
        for (const PortalShortcut& s : qdbus_cast<PortalShortcutList>(list.value<QDBusArgument>()))
            triggers_.insert(s.id, s.properties.value(QStringLiteral("trigger_description")).toString());
    state_ = State::Bound;
    emit bound();
}

void GlobalShortcutsPortal::bindShortcuts() {
    auto shortcut = [](const QString& id, const char* description, const char* trigger) {
        return PortalShortcut{id,
                              {{QStringLiteral("description"), QString::fromUtf8(description)},
                               {QStringLiteral("preferred_trigger"), QString::fromLatin1(trigger)}}};
    };
    const PortalShortcutList shortcuts{shortcut(kStop, "Stop the recording", "CTRL+ALT+s"),
                                       shortcut(kPauseResume, "Pause or resume the recording", "CTRL+ALT+p"),
                                       shortcut(kWebcam, "Show or hide the webcam picture", "CTRL+ALT+i")};
    send(Step::BindShortcuts, QStringLiteral("BindShortcuts"),
         {QVariant::fromValue(QDBusObjectPath(sessionPath_)), QVariant::fromValue(shortcuts), QString()}, {});
}

void GlobalShortcutsPortal::onActivated(const QDBusObjectPath& session, const QString& id, qulonglong, const QVariantMap&) {
    if (state_ != State::Bound || session.path() != sessionPath_) return;
    uintptr_t key = 0;
    if (id == kStop)
        key = VK_SHORTCUT_STOP;
    else if (id == kPauseResume)
        key = VK_SHORTCUT_PAUSE;
    else if (id == kWebcam)
        key = VK_SHORTCUT_PIP;
    else
        return;
    // The user may have bound another trigger: the activation itself is the shortcut, so it
    // carries the modifiers the recorder window asks for.
    postWindowMessage(target_, WM_RECORDER_HOTKEY, key, kHotkeyStateKnown | kHotkeyControl | kHotkeyAlt);
}

void GlobalShortcutsPortal::onNoAnswer() {
    if (state_ != State::Binding) return;
    const auto seconds = std::to_string((answerTimeout_.count() + 999) / 1000);
    if (step_ == Step::BindShortcuts) {
        // The desktop may be asking the user: the request stays open for a late answer, but
        // the shortcuts count as failed until then, so the fallback takes over now.
        lastError_ = "the desktop's shortcut service did not answer BindShortcuts within " + seconds + " s";
        state_ = State::Failed;
        emit failed();
        return;
    }
    fail(step_ == Step::Version ? "the desktop's portal did not answer within " + seconds + " s"
                                : "the desktop's shortcut service did not answer CreateSession within " + seconds + " s");
}

void GlobalShortcutsPortal::onPortalGone() {
    const bool lateBind = state_ == State::Failed && step_ == Step::BindShortcuts;
    if (lateBind) {
        sessionPath_.clear();
        closeAll();
        return;
    }
    if (state_ != State::Binding && state_ != State::Bound) return;
    sessionPath_.clear();   // its session went with it
    fail("the desktop's shortcut service went away");
}

void GlobalShortcutsPortal::closeAll() {
    answerTimer_.stop();
    QDBusConnection bus = QDBusConnection::sessionBus();
    // A request still open is withdrawn, so no dialog is left waiting for the user.
    if (!requestPath_.isEmpty() && step_ != Step::None)
        bus.send(QDBusMessage::createMethodCall(kService, requestPath_, kRequest, QStringLiteral("Close")));
    stopListening();
    if (!sessionPath_.isEmpty()) {
        bus.send(QDBusMessage::createMethodCall(kService, sessionPath_, QStringLiteral("org.freedesktop.portal.Session"),
                                                QStringLiteral("Close")));
        sessionPath_.clear();
    }
    bus.disconnect(kService, kPath, kShortcuts, QStringLiteral("Activated"), this,
                   SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    step_ = Step::None;
}

void GlobalShortcutsPortal::fail(const std::string& why) {
    closeAll();
    lastError_ = why;
    state_ = State::Failed;
    emit failed();
}

}  // namespace torvane::wayland
