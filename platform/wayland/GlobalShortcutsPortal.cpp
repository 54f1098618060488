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

GlobalShortcutsPortal::GlobalShortcutsPortal(QObject* target, QObject* parent)
    : QObject(parent), target_(target),
      watcher_(kService, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForUnregistration) {
    registerPortalShortcutTypes();
    connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this, &GlobalShortcutsPortal::onPortalGone);
}

GlobalShortcutsPortal::~GlobalShortcutsPortal() {
    stopListening();
    if (sessionPath_.isEmpty()) return;
    // Not waited for: the portal drops the bindings with the session, or with our connection.
    QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
        kService, sessionPath_, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
}

bool GlobalShortcutsPortal::start() {
    if (state_ == State::Binding || state_ == State::Bound) return true;
    triggers_.clear();
    sessionPath_.clear();
    if (!QDBusConnection::sessionBus().isConnected()) {
        fail("no session bus answers");
        return false;
    }
    state_ = State::Binding;
    return send(Step::CreateSession, QStringLiteral("CreateSession"), {},
                {{QStringLiteral("session_handle_token"), newPortalToken()}});
}

bool GlobalShortcutsPortal::send(Step step, const QString& method, QList<QVariant> args, QVariantMap options) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = newPortalToken();
    options.insert(QStringLiteral("handle_token"), token);
    step_ = step;
    listenForResponse(portalObjectPath(bus, token));

    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kShortcuts, method);
    args.append(options);
    m.setArguments(args);
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(m), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, method, step](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (step_ != step || state_ != State::Binding) return;   // answered, failed or gone meanwhile
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            fail("the desktop's shortcut service refused " + method.toStdString() + ": " +
                 reply.error().message().toStdString());
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
    if (state_ != State::Binding) return;
    stopListening();
    const Step step = step_;
    step_ = Step::None;
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

void GlobalShortcutsPortal::onPortalGone() {
    if (state_ != State::Binding && state_ != State::Bound) return;
    sessionPath_.clear();   // its session went with it
    fail("the desktop's shortcut service went away");
}

void GlobalShortcutsPortal::fail(const std::string& why) {
    stopListening();
    if (!sessionPath_.isEmpty()) {
        QDBusConnection::sessionBus().send(QDBusMessage::createMethodCall(
            kService, sessionPath_, QStringLiteral("org.freedesktop.portal.Session"), QStringLiteral("Close")));
        sessionPath_.clear();
    }
    QDBusConnection::sessionBus().disconnect(kService, kPath, kShortcuts, QStringLiteral("Activated"), this,
                                             SLOT(onActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    step_ = Step::None;
    lastError_ = why;
    state_ = State::Failed;
    emit failed();
}

}  // namespace torvane::wayland
