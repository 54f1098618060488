#include "app/RecordingRecovery.h"

#include <QFileInfo>
#include <string>

#include "engine/RecordingFile.h"
#include "platform/ui/MessageBox.h"
#include "settings/SettingsStore.h"

namespace torvane {

void rememberRecordingInProgress(const std::string& path) { writeRecordingInProgress(*openSettingsStore(), path); }

void forgetRecordingInProgress() { writeRecordingInProgress(*openSettingsStore(), {}); }

QString recoverUnfinishedRecording(QWidget* owner) {
    auto store = openSettingsStore();
    const std::string path = readRecordingInProgress(*store);
    writeRecordingInProgress(*store, {});
    if (path.empty()) return {};
    const QString name = QString::fromStdString(path);
    QString text;
    unsigned icon = ui::MB_ICONINFORMATION;
    if (!QFileInfo::exists(name)) {
        text = QStringLiteral("The last recording did not finish, and its file %1 is gone.").arg(name);
        icon = ui::MB_ICONWARNING;
    } else {
        std::string summary, error;
        if (repairRecordingInPlace(path, summary, error)) {
            text = QStringLiteral("The last recording did not finish. %1 was repaired: %2.")
                       .arg(name, QString::fromStdString(summary));
        } else {
            text = QStringLiteral("The last recording did not finish, and %1 could not be repaired: %2.")
                       .arg(name, QString::fromStdString(error));
            icon = ui::MB_ICONWARNING;
        }
    }
    ui::messageBox(owner, text, {}, ui::MB_OK | icon);
    return text;
}

}  // namespace torvane
