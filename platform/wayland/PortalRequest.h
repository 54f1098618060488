#pragma once
// Receives the Response signal of one portal request.

#include <QObject>
#include <QVariantMap>

namespace torvane::wayland {

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
