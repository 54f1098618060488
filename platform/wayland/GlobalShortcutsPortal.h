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
#include <QTimer>
#include <QVariantMap>
#include <chrono>
#include <string>

namespace torvane::wayland {

// Asks the session bus once, waiting up to 5 s; false without a bus, a portal, or that interface.
// The client below asks without waiting.
bool globalShortcutsOffered();

class GlobalShortcutsPortal : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Binding, Bound, Failed };

    // The shortcut ids given to the portal.
    static const QString kStop, kPauseResume, kWebcam;

    // How long each step may go unanswered before the shortcuts count as failed.
    static constexpr std::chrono::milliseconds kAnswerTimeout{5000};

    // Activations are posted to `target`, which must outlive this object.
    explicit GlobalShortcutsPortal(QObject* target, QObject* parent = nullptr,
                                   std::chrono::milliseconds answerTimeout = kAnswerTimeout);
    ~GlobalShortcutsPortal() override;   // closes the portal session

    // Asks whether the portal has the interface, then sends CreateSession and BindShortcuts,
    // waiting for none of them: the desktop may ask the user first. bound() or failed() tell the
    // outcome; failed() comes at once, and start() is false, when there is no session bus to send
    // to. A step unanswered within the timeout fails; a bind the user is still deciding on stays
    // open after that, and a late grant still binds (bound() after failed()).
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
    enum class Step { None, Version, CreateSession, BindShortcuts };
    void askVersion();
    bool send(Step step, const QString& method, QList<QVariant> args, QVariantMap options);
    void listenForResponse(const QString& path);
    void stopListening();
    void bindShortcuts();
    void onNoAnswer();
    // Closes what is open (the pending request, the session) and forgets the activations.
    void closeAll();
    void fail(const std::string& why);

    QObject* target_;
    std::chrono::milliseconds answerTimeout_;
    QTimer answerTimer_;
    State state_ = State::Idle;
    Step step_ = Step::None;
    QString requestPath_;
    QString sessionPath_;
    std::string lastError_;
    QMap<QString, QString> triggers_;
    QDBusServiceWatcher watcher_;
};

}  // namespace torvane::wayland
