#pragma once
// One shortcut as the global shortcuts portal takes and answers it: an id and its properties,
// D-Bus signature (sa{sv}).

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace torvane::wayland {

struct PortalShortcut {
    QString id;
    QVariantMap properties;   // description, preferred_trigger; the portal answers trigger_description
};
using PortalShortcutList = QList<PortalShortcut>;

inline QDBusArgument& operator<<(QDBusArgument& arg, const PortalShortcut& s) {
    arg.beginStructure();
    arg << s.id << s.properties;
    arg.endStructure();
    return arg;
}

inline const QDBusArgument& operator>>(const QDBusArgument& arg, PortalShortcut& s) {
    arg.beginStructure();
    arg >> s.id >> s.properties;
    arg.endStructure();
    return arg;
}

// Needed once per process before a list is put into or read from a D-Bus variant.
void registerPortalShortcutTypes();

}  // namespace torvane::wayland

Q_DECLARE_METATYPE(torvane::wayland::PortalShortcut)
