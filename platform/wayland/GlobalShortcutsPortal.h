#pragma once
// The recorder's shortcuts through the desktop's global shortcuts portal
// (org.freedesktop.portal.GlobalShortcuts): one session, Ctrl+Alt+S / Ctrl+Alt+P / Ctrl+Alt+I
// bound as preferred triggers, and each activation posted to the recorder window as
// WM_RECORDER_HOTKEY, the message the X11 key grabs post. Debian 12's portal (1.16) lacks the
// interface; there the shortcuts stay X11 key grabs, which on a Wayland desktop reach the recorder
// only while an XWayland window has the keyboard focus.

#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <string>

namespace torvane::wayland {

// Asks the session bus once; false without a bus, a portal, or that interface.
bool globalShortcutsOffered();

class GlobalShortcutsPortal : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Binding, Bound, Failed };

    // The shortcut ids given to the portal.
    static const QString kStop, kPauseResume, kWebcam;

    // Activations are posted to `target`, which must outlive this object.
    explicit GlobalShortcutsPortal(QObject* target, QObject* parent = nullptr);
    ~GlobalShortcutsPortal() override;   // closes the portal session

    // Sends CreateSession and then BindShortcuts without waiting for either: the desktop may ask
    // the user first. bound() or failed() tell the outcome; failed() comes at once, and start()
    // is false, when there is no session bus to send to.
    bool start();

    State state() const { return state_; }
    const std::string& lastError() const { return lastError_; }
    // What the portal says a shortcut is bound to, e.g. "Ctrl+Alt+S"; empty when it did not say.
    QString triggerOf(const QString& id) const { return triggers_.value(id); }

signals:
    void bound();
    // The bind failed or was refused, or the portal went away after binding; see lastError().
    void failed();

private slots:
    void onResponse(uint code, const QVariantMap& results);
    void onActivated(const QDBusObjectPath& session, const QString& id, qulonglong timestamp,
                     const QVariantMap& options);
    void onPortalGone();

private:
    enum class Step { None, CreateSession, BindShortcuts };
    bool send(Step step, const QString& method, QList<QVariant> args, QVariantMap options);
    void listenForResponse(const QString& path);
    void stopListening();
    void bindShortcuts();
    void fail(const std::string& why);

    QObject* target_;
    State state_ = State::Idle;
    Step step_ = Step::None;
    QString requestPath_;
    QString sessionPath_;
    std::string lastError_;
    QMap<QString, QString> triggers_;
    QDBusServiceWatcher watcher_;
};

}  // namespace torvane::wayland
