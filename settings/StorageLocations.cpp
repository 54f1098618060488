#include "settings/StorageLocations.h"

#include "settings/SettingsStore.h"

namespace torvane {

std::string storageLocationsText() {
    auto store = openSettingsStore();
    std::string text = "Settings: " + store->fileName().toStdString() + "\n";
    const std::string stored = storedCaptureFileName(*store);
    if (!stored.empty()) {
        text += "Recordings: " + stored + " (the file chosen in the movie properties)\n";
    } else {
        const std::string folder = documentsFolderPath();
        text += "Recordings: " + (folder.empty() ? std::string("unitled.avi in the documents folder") : folder + "/unitled.avi") +
                " (the default until the movie properties choose a file)\n";
    }
    return text;
}

}  // namespace torvane
