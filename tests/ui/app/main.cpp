// The recorder's windows, offscreen; recordings go to the private display of the test environment.
#include <gtest/gtest.h>

#include <QApplication>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("TORVANE COMMUNICATIONS"));
    QApplication::setApplicationName(QStringLiteral("TorvaneRecorder"));
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
