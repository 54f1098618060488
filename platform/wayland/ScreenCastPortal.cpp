#include "platform/wayland/ScreenCastPortal.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QTimer>
#include <unistd.h>

#include "platform/wayland/PortalRequest.h"

namespace torvane::wayland {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");

constexpr uint kMonitor = 1;
constexpr uint kCursorEmbedded = 2, kCursorMetadata = 4;
constexpr uint kPersistUntilRevoked = 2;
// The dialog waits for a person; the other steps answer at once.
constexpr int kDialogTimeoutMs = 180000, kStepTimeoutMs = 20000;

QVariant property(const char* name) {
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
    m << kScreenCast << QString::fromLatin1(name);
    QDBusMessage reply = QDBusConnection::sessionBus().call(m, QDBus::Block, kStepTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

// Calls a portal method that answers through a Request object, and waits for that answer.
// Subscribes before calling, on the path the portal will use, so no answer can be missed.
bool request(const QString& method, QList<QVariant> args, QVariantMap options, int timeoutMs, QVariantMap& results,
             std::string& error, bool& declined) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = newPortalToken();
    options.insert(QStringLiteral("handle_token"), token);
    const QString path = portalObjectPath(bus, token);
    PortalRequest req;
    if (!bus.connect(kService, path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                     &req, SLOT(onResponse(uint, QVariantMap)))) {
        error = "Cannot listen to the screen cast portal";
        return false;
    }
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, method);
    args.append(options);
    m.setArguments(args);
    QDBusMessage reply = bus.call(m, QDBus::Block, kStepTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        bus.disconnect(kService, path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                       &req, SLOT(onResponse(uint, QVariantMap)));
        error = "The screen cast portal refused " + method.toStdString() + ": " + reply.errorMessage().toStdString();
        return false;
    }
    if (!req.answered()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&req, &PortalRequest::done, &loop, &QEventLoop::quit);
        timer.start(timeoutMs);
        loop.exec();
    }
    bus.disconnect(kService, path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), &req,
                   SLOT(onResponse(uint, QVariantMap)));
    if (!req.answered()) {
        error = "The screen cast portal did not answer " + method.toStdString();
        return false;
    }
    if (req.code() == 1) {
        declined = true;
        error = "Screen sharing was declined";
        return false;
    }
    if (req.code() != 0) {
        error = "The screen cast portal failed " + method.toStdString();
        return false;
    }
    results = req.results();
    return true;
}

void readPair(const QVariant& v, int& a, int& b) {
    if (!v.canConvert<QDBusArgument>()) return;
    const QDBusArgument arg = v.value<QDBusArgument>();
    arg.beginStructure();
    arg >> a >> b;
    arg.endStructure();
}

}  // namespace

bool ScreenCastPortal::offered() {
    if (!QDBusConnection::sessionBus().isConnected()) return false;
    const QVariant types = property("AvailableSourceTypes");
    return types.isValid() && (types.toUInt() & kMonitor) != 0;
}

bool ScreenCastPortal::open(const std::string& restoreToken, ScreenCastGrant& grant, std::string& error,
                            bool& declined) {
    declined = false;
    if (!QCoreApplication::instance()) {
        error = "The screen cast portal needs the program's event loop";
        return false;
    }
    QVariantMap results;
    if (!request(QStringLiteral("CreateSession"), {}, {{QStringLiteral("session_handle_token"), newPortalToken()}},
                 kStepTimeoutMs, results, error, declined))
        return false;
    sessionPath_ = results.value(QStringLiteral("session_handle")).toString();
    if (sessionPath_.isEmpty()) {
        error = "The screen cast portal made no session";
        return false;
    }
    const QDBusObjectPath session(sessionPath_);

    const uint cursorModes = property("AvailableCursorModes").toUInt();
    pointerMetadata_ = (cursorModes & kCursorMetadata) != 0;
    QVariantMap select{{QStringLiteral("types"), kMonitor}, {QStringLiteral("multiple"), false}};
    if (pointerMetadata_)
        select.insert(QStringLiteral("cursor_mode"), kCursorMetadata);
    else if (cursorModes & kCursorEmbedded)
        select.insert(QStringLiteral("cursor_mode"), kCursorEmbedded);
    pointerEmbedded_ = !pointerMetadata_ && (cursorModes & kCursorEmbedded) != 0;
    if (property("version").toUInt() >= 4) {
        select.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        if (!restoreToken.empty()) select.insert(QStringLiteral("restore_token"), QString::fromStdString(restoreToken));
    }
    if (!request(QStringLiteral("SelectSources"), {QVariant::fromValue(session)}, select, kDialogTimeoutMs, results,
                 error, declined))
        return false;
    if (!request(QStringLiteral("Start"), {QVariant::fromValue(session), QString()}, {}, kDialogTimeoutMs, results,
                 error, declined))
        return false;

    bool haveStream = false;
    const QVariant streams = results.value(QStringLiteral("streams"));
    if (streams.canConvert<QDBusArgument>()) {
        const QDBusArgument arg = streams.value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            uint node = 0;
            QVariantMap props;
            arg.beginStructure();
            arg >> node >> props;
            arg.endStructure();
            if (haveStream) continue;
            haveStream = true;
            grant.node = node;
            readPair(props.value(QStringLiteral("position")), grant.x, grant.y);
            readPair(props.value(QStringLiteral("size")), grant.width, grant.height);
        }
        arg.endArray();
    }
    if (!haveStream) {
        error = "The screen cast portal shared no screen";
        return false;
    }
    grant.restoreToken = results.value(QStringLiteral("restore_token")).toString().toStdString();

    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, QStringLiteral("OpenPipeWireRemote"));
    m << QVariant::fromValue(session) << QVariantMap();
    QDBusReply<QDBusUnixFileDescriptor> fd = QDBusConnection::sessionBus().call(m, QDBus::Block, kStepTimeoutMs);
    if (!fd.isValid() || !fd.value().isValid()) {
        error = "The screen cast portal gave no PipeWire connection: " + fd.error().message().toStdString();
        return false;
    }
    grant.pipeWireFd = dup(fd.value().fileDescriptor());
    if (grant.pipeWireFd < 0) {
        error = "Cannot keep the PipeWire connection";
        return false;
    }
    return true;
}

ScreenCastPortal::~ScreenCastPortal() {
    if (sessionPath_.isEmpty() || !QCoreApplication::instance()) return;
    QDBusMessage m = QDBusMessage::createMethodCall(kService, sessionPath_, QStringLiteral("org.freedesktop.portal.Session"),
                                                    QStringLiteral("Close"));
    // Waited for: the backend keeps casting a monitor while a session of it is open, and a later
    // session of the same monitor would then get no first picture of a still screen.
    QDBusConnection::sessionBus().call(m, QDBus::Block, 2000);
}

}  // namespace torvane::wayland
