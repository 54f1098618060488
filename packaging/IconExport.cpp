// Writes the program's icon as PNG files for the icon theme:
//   torvane-icon-export FOLDER SIZE...   writes FOLDER/SIZExSIZE/apps/torvane-recorder.png
#include <QDir>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "app/AppIcon.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: torvane-icon-export FOLDER SIZE...\n", stderr);
        return 2;
    }
    // Painting needs no screen; the offscreen platform keeps this a build step without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "torvane-icon-export: bad size \"%s\"\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        if (!QDir().mkpath(dir) || !torvane::recorderIconImage(size).save(dir + "/torvane-recorder.png", "PNG")) {
            std::fprintf(stderr, "torvane-icon-export: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
