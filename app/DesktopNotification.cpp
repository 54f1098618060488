#include "app/DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QVariantMap>

#include "app/RecorderResources.h"

namespace torvane {

bool notifyRecordingSaved(const QString& file, bool incomplete) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    const QFileInfo info(file);
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("Notify"));
    const QString summary = incomplete ? text::kNotifySavedIncomplete : text::kNotifySaved;
    const QString body = text::kNotifySavedBody.arg(info.fileName(), QDir::toNativeSeparators(info.absolutePath()));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("torvane-recorder"));
    hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
    call << text::kWindowCaption << 0u << QStringLiteral("torvane-recorder") << summary << body << QStringList{}
         << hints << -1;
    // No reply is awaited: a slow or absent notification service must not hold up the review question.
    call.setAutoStartService(true);
    return bus.send(call);
}

}  // namespace torvane
