// The settings store as a damaged or hand-edited file: any bytes as the store's text, loaded the way
// the recorder loads it, then put through the capture rules. Aborts when a loaded value is outside
// what the loader promises, besides any crash or undefined behaviour the sanitizers see.

#include <QCoreApplication>
#include <QSettings>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "settings/CaptureRules.h"
#include "settings/SettingsStore.h"
#include "settings/StoredSettingsCheck.h"

using namespace torvane;

namespace {

std::string g_dir;

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "loaded settings break their promise: %s\n", what);
    std::abort();
}

bool terminated(const char16_t* field, size_t capacity) {
    for (size_t i = 0; i < capacity; ++i)
        if (field[i] == 0) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static int argc = 1;
    static char name[] = "fuzz_settings";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    char pattern[] = "/dev/shm/torvane-fuzz-settings.XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) std::abort();
    g_dir = dir;
    // The loader creates the documents folder it names the default file after.
    setenv("XDG_DOCUMENTS_DIR", (g_dir + "/documents").c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_dir.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    // A new name each time: QSettings keeps parsed files by name.
    static unsigned long counter = 0;
    const std::string path = g_dir + "/store" + std::to_string(counter++) + ".conf";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    {
        QSettings store(QString::fromStdString(path), QSettings::IniFormat);
        CaptureSettings s = loadUsableCaptureSettings(store);
        const std::string file = readCaptureFileName(store);
        require(file.empty() || isUsableFileName(file), "file name to record to");
        require(s.fileName.empty() || isUsableFileName(s.fileName), "file name");
        require(s.soundEnabled == 0 || s.soundEnabled == 1, "sound choice");
        require(s.soundOption >= kSoundMicrophone && s.soundOption <= kSoundBoth, "sound source");
        require(s.screen.quality >= 0 && s.screen.quality <= 2, "quality");
        require(s.cursor.highlightType >= kHighlightPointer && s.cursor.highlightType <= kHighlightEllipse,
                "highlight kind");
        require(s.cursor.highlightOpacity >= 0 && s.cursor.highlightOpacity <= 100, "highlight opacity");
        require(s.cursor.highlightColor <= 0x00FFFFFF, "highlight colour");
        require(s.watermark.opacity >= 0 && s.watermark.opacity <= 100, "watermark opacity");
        require(s.watermark.position >= 0 && s.watermark.position <= 8, "watermark position");
        require(s.watermark.width >= 0 && s.watermark.width <= kStoredMaxSide, "watermark width");
        require(s.pip.width >= 0 && s.pip.width <= kStoredMaxSide, "picture-in-picture width");
        require(terminated(s.watermark.imagePath, std::size(s.watermark.imagePath)), "watermark name");
        require(terminated(s.webcam.deviceName, std::size(s.webcam.deviceName)), "webcam name");
        (void)fromUtf16Field(s.watermark.imagePath, std::size(s.watermark.imagePath));
        // What the dialog's OK does with the loaded record.
        applyRectBySourceKind(s.screen, s.webcam, ScreenRect{0, 0, 1920, 1080}, ScreenRect{0, 0, 1920, 1040});
        applyOutputSize(s.screen);
        (void)readLiveSessionWindow(store);
    }
    ::unlink(path.c_str());
    return 0;
}
