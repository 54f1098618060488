#include "platform/wayland/GlobalShortcutsPortal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace torvane::wayland {

bool globalShortcutsOffered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // Every portal interface has a version property; an interface the portal lacks answers an error.
    QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                    QStringLiteral("/org/freedesktop/portal/desktop"),
                                                    QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    m << QStringLiteral("org.freedesktop.portal.GlobalShortcuts") << QStringLiteral("version");
    const QDBusMessage reply = bus.call(m, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toUInt() > 0;
}

}  // namespace torvane::wayland
