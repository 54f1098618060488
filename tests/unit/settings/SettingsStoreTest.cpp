#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstring>

#include "settings/SettingsStore.h"

using namespace torvane;

namespace {

QTemporaryDir* g_root = nullptr;

QString rootPath(const char* sub) { return g_root->path() + "/" + sub; }

template <typename Record>
QByteArray bytesOf(const Record& r, int extra = 0) {
    QByteArray b(reinterpret_cast<const char*>(&r), sizeof(Record));
    if (extra > 0) b.append(QByteArray(extra, '\0'));
    if (extra < 0) b.chop(-extra);
    return b;
}

VideoDeviceQuery oneDevice(const std::string& name, uint16_t w, uint16_t h) {
    VideoDeviceQuery q;
    q.anyDevice = [] { return true; };
    q.defaultDevice = [name, w, h](std::string& n, uint16_t& cw, uint16_t& ch) {
        n = name;
        cw = w;
        ch = h;
        return true;
    };
    return q;
}

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("XDG_DOCUMENTS_DIR", rootPath("documents").toLocal8Bit());
        store = openSettingsStore();
        store->clear();
        store->sync();
    }
    void TearDown() override {
        store->clear();
        store->sync();
    }
    std::unique_ptr<QSettings> store;
};

TEST_F(SettingsStoreTest, StoreLivesInThePerUserConfigFolder) {
    EXPECT_EQ(store->fileName(), rootPath("config") + "/TORVANE COMMUNICATIONS/TorvaneRecorder.conf");
}

TEST_F(SettingsStoreTest, FirstRunDefaults) {
    const CaptureSettings s = loadCaptureSettings(*store);
    EXPECT_EQ(s.screen.sourceKind, kSourceFullScreen);
    EXPECT_EQ(s.screen.rect, (ScreenRect{0, 0, 200, 200}));
    EXPECT_EQ(s.screen.frameRate, 8);
    EXPECT_EQ(s.screen.quality, 0);
    EXPECT_EQ(s.screen.sizeChoice, 0);
    EXPECT_EQ(s.screen.includeTaskbar, 1);
    EXPECT_EQ(s.soundEnabled, 1);
    EXPECT_EQ(s.soundOption, kSoundMicrophone);
    EXPECT_EQ(s.cursor.captureCursor, 1);
    EXPECT_EQ(s.cursor.highlightType, kHighlightPointer);
    EXPECT_EQ(s.cursor.highlightColor, 0x000000FFu);
    EXPECT_EQ(s.cursor.highlightOpacity, 70);
    EXPECT_EQ(s.cursor.highlightSize, 10);
    EXPECT_EQ(s.watermark.on, 0);
    EXPECT_EQ(s.watermark.opacity, 0);
    EXPECT_EQ(s.pip.on, 0);
    EXPECT_EQ(s.webcam.width, 0);
    EXPECT_EQ(s.fileName, rootPath("documents").toStdString() + "/unitled.avi");
}

TEST_F(SettingsStoreTest, ScreenRecordIsTakenOnlyWithExactlyItsSize) {
    ScreenSettings stored;
    stored.sourceKind = kSourceArea;
    stored.rect = {10, 20, 610, 420};
    stored.frameRate = 25;
    for (int extra : {-1, 1}) {
        store->setValue("MovieProperty/Screen", bytesOf(stored, extra));
        const CaptureSettings s = loadCaptureSettings(*store);
        EXPECT_EQ(s.screen.sourceKind, kSourceFullScreen) << extra;
        EXPECT_EQ(s.screen.frameRate, 8) << extra;
    }
    // The same bytes as text are not a binary record either.
    store->setValue("MovieProperty/Screen", QString::fromLatin1(bytesOf(stored).toHex().left(48)));
    EXPECT_EQ(loadCaptureSettings(*store).screen.frameRate, 8);

    store->setValue("MovieProperty/Screen", bytesOf(stored));
    const CaptureSettings s = loadCaptureSettings(*store);
    EXPECT_EQ(s.screen.sourceKind, kSourceArea);
    EXPECT_EQ(s.screen.rect, stored.rect);
    EXPECT_EQ(s.screen.frameRate, 25);
}

TEST_F(SettingsStoreTest, LoadAppliesTheMinimumButNoRounding) {
    ScreenSettings stored;
    stored.rect = {30, 40, 30, 40};
    store->setValue("MovieProperty/Screen", bytesOf(stored));
    EXPECT_EQ(loadCaptureSettings(*store).screen.rect, (ScreenRect{30, 40, 230, 240}));

    stored.rect = {0, 0, 250, 301};
    store->setValue("MovieProperty/Screen", bytesOf(stored));
    EXPECT_EQ(loadCaptureSettings(*store).screen.rect, (ScreenRect{0, 0, 250, 301}));

    // Absurd stored values load without overflow; the engine refuses them later.
    stored.rect = {INT32_MAX - 5, INT32_MIN, INT32_MIN, INT32_MAX};
    stored.frameRate = 0;
    stored.sourceKind = 9;
    store->setValue("MovieProperty/Screen", bytesOf(stored));
    const CaptureSettings s = loadCaptureSettings(*store);
    EXPECT_EQ(s.screen.rect.right, INT32_MAX);
    EXPECT_EQ(s.screen.rect.bottom, INT32_MAX);
    EXPECT_EQ(s.screen.frameRate, 0);
    EXPECT_EQ(s.screen.sourceKind, 9);
}

TEST_F(SettingsStoreTest, SoundIntegersFallBackWhenUnparsable) {
    store->setValue("MovieProperty/SoundCapture", "0");
    store->setValue("MovieProperty/OptionSound", 2);
    CaptureSettings s = loadCaptureSettings(*store);
    EXPECT_EQ(s.soundEnabled, 0);
    EXPECT_EQ(s.soundOption, 2);

    for (const char* junk : {"abc", "1.5", "", "99999999999", "0x1"}) {
        store->setValue("MovieProperty/SoundCapture", junk);
        store->setValue("MovieProperty/OptionSound", junk);
        s = loadCaptureSettings(*store);
        EXPECT_EQ(s.soundEnabled, 1) << junk;
        EXPECT_EQ(s.soundOption, 0) << junk;
    }
    store->setValue("MovieProperty/OptionSound", QByteArray(48, '\x01'));
    EXPECT_EQ(loadCaptureSettings(*store).soundOption, 0);
}

TEST_F(SettingsStoreTest, WebcamDefaultsToTheFirstDeviceAndPipCopiesItsSize) {
    CaptureSettings s = loadCaptureSettings(*store, oneDevice(std::string(250, 'c'), 640, 480));
    EXPECT_EQ(fromUtf16Field(s.webcam.deviceName, 200), std::string(199, 'c'));   // cut to fit
    EXPECT_EQ(s.webcam.width, 640);
    EXPECT_EQ(s.pip.on, 0);
    EXPECT_EQ(s.pip.width, 640);
    EXPECT_EQ(s.pip.height, 480);

    // A stored webcam wins over the default device; a stored PIP record is taken as it is.
    WebcamSettings webcam;
    toUtf16Field("Stored Cam", webcam.deviceName, 200);
    webcam.width = 320;
    webcam.height = 240;
    store->setValue("MovieProperty/Webcam", bytesOf(webcam));
    s = loadCaptureSettings(*store, oneDevice("First Cam", 640, 480));
    EXPECT_EQ(fromUtf16Field(s.webcam.deviceName, 200), "Stored Cam");
    EXPECT_EQ(s.pip.width, 320);
    PipSettings pip;
    pip.position = 4;
    store->setValue("MovieProperty/PIP", bytesOf(pip));
    s = loadCaptureSettings(*store, oneDevice("First Cam", 640, 480));
    EXPECT_EQ(s.pip.position, 4);
    EXPECT_EQ(s.pip.width, 0);
}

TEST_F(SettingsStoreTest, WithoutAnyVideoDeviceTheWebcamIsClearedAndWebcamOnlyBecomesFullScreen) {
    ScreenSettings screen;
    screen.sourceKind = kSourceWebcam;
    WebcamSettings webcam;
    toUtf16Field("Gone Cam", webcam.deviceName, 200);
    webcam.width = 640;
    webcam.height = 480;
    store->setValue("MovieProperty/Screen", bytesOf(screen));
    store->setValue("MovieProperty/Webcam", bytesOf(webcam));

    CaptureSettings s = loadCaptureSettings(*store);
    EXPECT_EQ(s.screen.sourceKind, kSourceFullScreen);
    EXPECT_EQ(fromUtf16Field(s.webcam.deviceName, 200), "");
    EXPECT_EQ(s.webcam.width, 0);
    EXPECT_EQ(s.webcam.height, 0);
    EXPECT_EQ(s.pip.width, 640);   // copied before the device test, as the load order has it

    s = loadCaptureSettings(*store, oneDevice("Other Cam", 160, 120));
    EXPECT_EQ(s.screen.sourceKind, kSourceWebcam);
    EXPECT_EQ(fromUtf16Field(s.webcam.deviceName, 200), "Gone Cam");
}

TEST_F(SettingsStoreTest, DocumentsFolderIsCreatedWhenMissingAndEmptyWhenItCannotBe) {
    const QString docs = rootPath("fresh/Documents");
    qputenv("XDG_DOCUMENTS_DIR", docs.toLocal8Bit());
    EXPECT_EQ(defaultCaptureFileName(), docs.toStdString() + "/unitled.avi");
    EXPECT_TRUE(QDir(docs).exists());

    qputenv("HOME", rootPath("home").toLocal8Bit());
    qputenv("XDG_DOCUMENTS_DIR", "$HOME/Docs");
    EXPECT_EQ(documentsFolder(), rootPath("home/Docs").toStdString());

    // Below a plain file no folder can be made: the stored name is then not read either.
    QFile blocker(rootPath("plainfile"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_DOCUMENTS_DIR", (rootPath("plainfile") + "/Documents").toLocal8Bit());
    store->setValue("MovieProperty/CaptureFileName", "/tmp/stored.avi");
    EXPECT_EQ(documentsFolder(), "");
    EXPECT_EQ(loadCaptureSettings(*store).fileName, "");
}

TEST_F(SettingsStoreTest, SaveThenLoadIsByteExactAndTheFileHoldsExactSizes) {
    CaptureSettings s;
    auto fill = [](auto& record, unsigned seed) {
        auto* p = reinterpret_cast<unsigned char*>(&record);
        for (size_t i = 0; i < sizeof record; ++i) p[i] = static_cast<unsigned char>(seed + i * 7);
    };
    fill(s.screen, 1), fill(s.cursor, 2), fill(s.watermark, 3), fill(s.webcam, 4), fill(s.pip, 5);
    s.screen.sourceKind = kSourceWebcam;
    s.screen.rect = {12, 34, 812, 634};   // above the minimum, so loading keeps it
    s.soundEnabled = 0;
    s.soundOption = 2;
    s.fileName = "/tmp/out dir/rec, 1 \xC3\xBC.avi";
    saveCaptureSettings(*store, s);
    store.reset();

    // A fresh store object reads what reached the disk.
    store = openSettingsStore();
    const CaptureSettings l = loadCaptureSettings(*store, oneDevice("x", 1, 1));
    EXPECT_EQ(std::memcmp(&l.screen, &s.screen, sizeof s.screen), 0);
    EXPECT_EQ(std::memcmp(&l.cursor, &s.cursor, sizeof s.cursor), 0);
    EXPECT_EQ(std::memcmp(&l.watermark, &s.watermark, sizeof s.watermark), 0);
    EXPECT_EQ(std::memcmp(&l.webcam, &s.webcam, sizeof s.webcam), 0);
    EXPECT_EQ(std::memcmp(&l.pip, &s.pip, sizeof s.pip), 0);
    EXPECT_EQ(l.soundEnabled, 0);
    EXPECT_EQ(l.soundOption, 2);
    EXPECT_EQ(l.fileName, s.fileName);

    QSettings file(rootPath("config") + "/TORVANE COMMUNICATIONS/TorvaneRecorder.conf", QSettings::IniFormat);
    for (auto [key, size] : {std::pair{"Screen", 48}, {"Cursor", 20}, {"Watermark", 548}, {"Webcam", 404}, {"PIP", 24}})
        EXPECT_EQ(file.value(QString("MovieProperty/") + key).toByteArray().size(), size) << key;
}

TEST_F(SettingsStoreTest, SessionWindowIsAPlainIntegerAndScriptsMayWriteHex) {
    EXPECT_EQ(readLiveSessionWindow(*store), 0u);
    writeLiveSessionWindow(*store, 0x1e00007);
    EXPECT_EQ(readLiveSessionWindow(*store), 0x1e00007u);
    QFile conf(store->fileName());
    ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(conf.readAll().contains("[SessionWindow]\nHwnd=31457287\n"));

    // What a shell script would append by hand.
    store->setValue("SessionWindow/Hwnd", "0x1E00009");
    EXPECT_EQ(readLiveSessionWindow(*store), 0x1e00009u);
    store->setValue("SessionWindow/Hwnd", " 4711 ");
    EXPECT_EQ(readLiveSessionWindow(*store), 4711u);
    for (const char* junk : {"-5", "0x", "12ab", "window", "0x1g", "+7", "99999999999999999999999"}) {
        store->setValue("SessionWindow/Hwnd", junk);
        EXPECT_EQ(readLiveSessionWindow(*store), 0u) << junk;
    }
}

}  // namespace

// A damaged or hand-edited store: each value the program cannot use loads as its default.
TEST_F(SettingsStoreTest, HostileValuesLoadAsDefaults) {
    CursorSettings cursor;
    cursor.captureCursor = 7;
    cursor.highlightType = -3;
    cursor.highlightColor = 0xFFFFFFFF;
    cursor.highlightOpacity = 1000;
    cursor.highlightSize = INT32_MAX;
    WatermarkSettings wm;
    wm.on = 1;
    std::fill(std::begin(wm.imagePath), std::end(wm.imagePath), u'a');   // no terminator
    wm.width = -1;
    wm.height = INT32_MAX;
    wm.position = 99;
    wm.opacity = -70;
    wm.marginX = INT32_MIN;
    PipSettings pip;
    pip.on = 2;
    pip.width = 1 << 30;
    pip.position = -1;
    WebcamSettings cam;
    cam.deviceName[0] = u'\x1b';
    ScreenSettings screen;
    screen.quality = 12;
    store->setValue("MovieProperty/Cursor", bytesOf(cursor));
    store->setValue("MovieProperty/Watermark", bytesOf(wm));
    store->setValue("MovieProperty/PIP", bytesOf(pip));
    store->setValue("MovieProperty/Webcam", bytesOf(cam));
    store->setValue("MovieProperty/Screen", bytesOf(screen));
    store->setValue("MovieProperty/SoundCapture", "-1");
    store->setValue("MovieProperty/OptionSound", "2147483647");
    const CaptureSettings s = loadUsableCaptureSettings(*store, oneDevice("Cam", 640, 480));
    const CursorSettings dc;
    EXPECT_EQ(s.cursor.captureCursor, dc.captureCursor);
    EXPECT_EQ(s.cursor.highlightType, dc.highlightType);
    EXPECT_EQ(s.cursor.highlightColor, dc.highlightColor);
    EXPECT_EQ(s.cursor.highlightOpacity, dc.highlightOpacity);
    EXPECT_EQ(s.cursor.highlightSize, dc.highlightSize);
    EXPECT_EQ(s.watermark.on, 1);
    EXPECT_EQ(fromUtf16Field(s.watermark.imagePath, std::size(s.watermark.imagePath)), "");
    EXPECT_EQ(s.watermark.width, 0);
    EXPECT_EQ(s.watermark.height, 0);
    EXPECT_EQ(s.watermark.position, 0);
    EXPECT_EQ(s.watermark.opacity, 70);
    EXPECT_EQ(s.watermark.marginX, 0);
    EXPECT_EQ(s.pip.on, 0);
    EXPECT_EQ(s.pip.width, 0);
    EXPECT_EQ(s.pip.position, 0);
    EXPECT_EQ(s.webcam.deviceName[0], u'\0');
    EXPECT_EQ(s.screen.quality, 0);
    EXPECT_EQ(s.soundEnabled, 1);
    EXPECT_EQ(s.soundOption, kSoundMicrophone);
}

TEST_F(SettingsStoreTest, UnusableFileNamesGiveWayToTheDefault) {
    const std::string fallback = defaultCaptureFileName();
    ASSERT_FALSE(fallback.empty());
    const std::string tooLong = "/tmp/" + std::string(5000, 'a') + ".avi";
    for (const std::string& bad : {tooLong, std::string("/tmp/a\tb.avi"), std::string("/tmp/a\nb.avi"),
                                   std::string("/tmp/\x7f.avi")}) {
        store->setValue("MovieProperty/CaptureFileName", QString::fromLatin1(bad.data(), qsizetype(bad.size())));
        EXPECT_EQ(loadUsableCaptureSettings(*store).fileName, fallback) << bad.size();
        EXPECT_EQ(readCaptureFileName(*store), fallback) << bad.size();
    }
    // Spaces, commas and non-Latin letters are a name like any other.
    store->setValue("MovieProperty/CaptureFileName", QString::fromUtf8("/tmp/Überblick, Teil 2.avi"));
    EXPECT_EQ(loadUsableCaptureSettings(*store).fileName, "/tmp/Überblick, Teil 2.avi");
}

int main(int argc, char** argv) {
    // Private configuration and documents folders, set before Qt first resolves its paths.
    QTemporaryDir root;
    g_root = &root;
    qputenv("XDG_CONFIG_HOME", root.path().toLocal8Bit() + "/config");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
