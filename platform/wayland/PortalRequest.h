#pragma once
// Receives the Response signal of one portal request.

#include <QDBusConnection>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QVariantMap>

namespace torvane::wayland {

// A fresh handle token for a request or a session.
inline QString newPortalToken() { return QStringLiteral("torvane%1").arg(QRandomGenerator::global()->generate()); }

// The path the portal gives the Request object of `token` (or the Session of a session token, with
// kind "session"): known before the call, so the answer can be listened for before it can come.
inline QString portalObjectPath(const QDBusConnection& bus, const QString& token,
                                const QString& kind = QStringLiteral("request")) {
    QString sender = bus.baseService().mid(1);
    sender.replace('.', '_');
    return QStringLiteral("/org/freedesktop/portal/desktop/%1/%2/%3").arg(kind, sender, token);
}

class PortalRequest : public QObject {
    Q_OBJECT
public:
    bool answered() const { return answered_; }
    uint code() const { return code_; }
    const QVariantMap& results() const { return results_; }

signals:
    void done();

public slots:
    void onResponse(uint code, const QVariantMap& results) {
        if (answered_) return;
        answered_ = true;
        code_ = code;
        results_ = results;
        emit done();
    }

private:
    bool answered_ = false;
    uint code_ = 2;
    QVariantMap results_;
};

}  // namespace torvane::wayland
