#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Offscreen, with private configuration and documents folders set before Qt resolves its paths.
int main(int argc, char** argv) {
    QTemporaryDir root;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", root.path().toLocal8Bit() + "/config");
    qputenv("XDG_DOCUMENTS_DIR", root.path().toLocal8Bit() + "/documents");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TorvaneRecorder"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
