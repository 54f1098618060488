// A stand-in for the desktop's global shortcuts portal on a private session bus: it owns
// org.freedesktop.portal.Desktop and answers as the portal documents it (Request objects with a
// Response signal, sessions with Close, Activated with the session handle and the shortcut id).
// The tests drive it through org.torvane.test.ShortcutsPortal on the same object:
//   Activate(s id, b ownSession)  sends Activated for the last session (or for a stranger's)
//   Bound() -> s                  "id|description|preferred_trigger" lines of the last bind
//   ClosedSessions() -> i         how many sessions were closed
//   ClosedRequests() -> i         how many requests were withdrawn (Request.Close) before their answer
// With --refuse it answers every bind as declined by the user (Response code 1). With
// --silent version|CreateSession|BindShortcuts it never answers that step, as a hung desktop
// would; with --bind-delay MS it answers binds that much later, as a user deciding would.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSet>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "platform/wayland/PortalShortcut.h"

using torvane::wayland::PortalShortcut;
using torvane::wayland::PortalShortcutList;

namespace {

const QString kBase = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kShortcuts = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kControl = QStringLiteral("org.torvane.test.ShortcutsPortal");

class Portal : public QDBusVirtualObject {
public:
    Portal(bool refuse, QString silent, int bindDelayMs)
        : refuse_(refuse), silent_(std::move(silent)), bindDelayMs_(bindDelayMs) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        const QString iface = m.interface(), member = m.member();
        const QList<QVariant> args = m.arguments();
        if (iface == QStringLiteral("org.freedesktop.DBus.Properties") && member == QStringLiteral("Get")) {
            if (silent_ == QStringLiteral("version")) return true;
            if (args.value(0).toString() == kShortcuts && args.value(1).toString() == QStringLiteral("version"))
                bus.send(m.createReply(QVariant::fromValue(QDBusVariant(uint(1)))));
            else
                bus.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"), iface));
            return true;
        }
        if (iface == kShortcuts && member == QStringLiteral("CreateSession")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(args.value(0));
            session_ = objectPath(m, QStringLiteral("session"), options.value(QStringLiteral("session_handle_token")));
            answer(m, bus, options, 0, {{QStringLiteral("session_handle"), session_}}, 20,
                   silent_ == QStringLiteral("CreateSession"));
            return true;
        }
        if (iface == kShortcuts && member == QStringLiteral("BindShortcuts")) {
            if (args.size() != 4 || args.value(0).value<QDBusObjectPath>().path() != session_) {
                bus.send(m.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.InvalidArgument"),
                                            QStringLiteral("no such session")));
                return true;
            }
            const PortalShortcutList wanted = qdbus_cast<PortalShortcutList>(args.value(1));
            bound_.clear();
            PortalShortcutList given;
            for (const PortalShortcut& s : wanted) {
                const QString trigger = s.properties.value(QStringLiteral("preferred_trigger")).toString();
                bound_ += s.id + '|' + s.properties.value(QStringLiteral("description")).toString() + '|' + trigger +
                          '\n';
                given.append({s.id, {{QStringLiteral("description"), s.properties.value(QStringLiteral("description"))},
                                     {QStringLiteral("trigger_description"), QStringLiteral("Press ") + trigger}}});
            }
            const QVariantMap options = qdbus_cast<QVariantMap>(args.value(3));
            const bool silent = silent_ == QStringLiteral("BindShortcuts");
            if (refuse_)
                answer(m, bus, options, 1, {}, bindDelayMs_, silent);
            else
                answer(m, bus, options, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(given)}}, bindDelayMs_,
                       silent);
            return true;
        }
        if (iface == QStringLiteral("org.freedesktop.portal.Session") && member == QStringLiteral("Close")) {
            ++closed_;
            bus.send(m.createReply());
            return true;
        }
        if (iface == QStringLiteral("org.freedesktop.portal.Request") && member == QStringLiteral("Close")) {
            if (open_->remove(m.path())) ++closedRequests_;
            bus.send(m.createReply());
            return true;
        }
        if (iface == kControl && member == QStringLiteral("Activate")) {
            const QString session = args.value(1).toBool() ? session_ : kBase + QStringLiteral("/session/1_0/stranger");
            QDBusMessage s = QDBusMessage::createSignal(kBase, kShortcuts, QStringLiteral("Activated"));
            s << QVariant::fromValue(QDBusObjectPath(session)) << args.value(0).toString() << qulonglong(1234)
              << QVariantMap();
            bus.send(s);
            bus.send(m.createReply());
            return true;
        }
        if (iface == kControl && member == QStringLiteral("Bound")) {
            bus.send(m.createReply(bound_));
            return true;
        }
        if (iface == kControl && member == QStringLiteral("ClosedSessions")) {
            bus.send(m.createReply(closed_));
            return true;
        }
        if (iface == kControl && member == QStringLiteral("ClosedRequests")) {
            bus.send(m.createReply(closedRequests_));
            return true;
        }
        bus.send(m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), member));
        return true;
    }

private:
    static QString objectPath(const QDBusMessage& m, const QString& kind, const QVariant& token) {
        QString sender = m.service().mid(1);
        sender.replace('.', '_');
        return kBase + '/' + kind + '/' + sender + '/' + token.toString();
    }

    // Replies with the Request object's path, then answers on it as a portal does once the
    // desktop has decided (never when `silent`, nor once the request is withdrawn).
    void answer(const QDBusMessage& m, const QDBusConnection& bus, const QVariantMap& options, uint code,
                const QVariantMap& results, int delayMs, bool silent) {
        const QString request = objectPath(m, QStringLiteral("request"), options.value(QStringLiteral("handle_token")));
        bus.send(m.createReply(QVariant::fromValue(QDBusObjectPath(request))));
        open_->insert(request);
        if (silent) return;
        QTimer::singleShot(delayMs, [bus, request, code, results, open = open_] {
            if (!open->remove(request)) return;
            QDBusMessage s = QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"),
                                                        QStringLiteral("Response"));
            s << code << results;
            QDBusConnection(bus).send(s);
        });
    }

    bool refuse_;
    QString silent_;
    int bindDelayMs_;
    std::shared_ptr<QSet<QString>> open_ = std::make_shared<QSet<QString>>();   // requests not yet answered
    int closedRequests_ = 0;
    QString session_;
    QString bound_;
    int closed_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    torvane::wayland::registerPortalShortcutTypes();
    const QStringList args = app.arguments();
    auto valueOf = [&](const char* option) {
        const qsizetype i = args.indexOf(QLatin1String(option));
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
    };
    Portal portal(args.contains(QStringLiteral("--refuse")), valueOf("--silent"),
                  valueOf("--bind-delay").isEmpty() ? 20 : valueOf("--bind-delay").toInt());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(kBase, &portal, QDBusConnection::SubPath) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
        std::fprintf(stderr, "fake portal: cannot take the portal's name: %s\n",
                     bus.lastError().message().toLocal8Bit().constData());
        return 1;
    }
    return app.exec();
}
