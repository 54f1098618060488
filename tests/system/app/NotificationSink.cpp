// A desktop notification service for tests: owns org.freedesktop.Notifications on the session bus
// and prints each notification as "app|icon|summary|body|desktop-entry" on standard output.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

class NotificationSink : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
    uint Notify(const QString& app, uint replacesId, const QString& icon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int timeout) {
        (void)replacesId, (void)actions, (void)timeout;
        std::printf("%s|%s|%s|%s|%s\n", qPrintable(app), qPrintable(icon), qPrintable(summary), qPrintable(body),
                    qPrintable(hints.value(QStringLiteral("desktop-entry")).toString()));
        std::fflush(stdout);
        return ++last_;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }

private:
    uint last_ = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    NotificationSink sink;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &sink, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "notification-sink: cannot own the service: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}

#include "NotificationSink.moc"
