#pragma once
// The program's icon: the window's, the tray's and the about box's, and the installed theme icons.

#include <QIcon>
#include <QImage>

namespace torvane {
// The icon drawn at `size` by `size` pixels.
QImage recorderIconImage(int size);
QIcon recorderIcon();
}
