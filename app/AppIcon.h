#pragma once
// The program's icon: the window's, the tray's and the about box's.

#include <QIcon>

namespace torvane {
QIcon recorderIcon();
}
