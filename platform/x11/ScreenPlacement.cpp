#include "platform/x11/ScreenPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/screen/DeviceScale.h"
#include "platform/x11/Monitors.h"

namespace torvane::x11 {

QRect logicalCoveringOnScreen(const ScreenRect& device) {
    const std::vector<Monitor> monitors = listMonitors(nullptr);
    const int64_t cx = (int64_t(device.left) + device.right) / 2, cy = (int64_t(device.top) + device.bottom) / 2;
    bool found = false;
    QRect best, bestLogical;
    double bestRatio = 1;
    for (QScreen* s : QGuiApplication::screens()) {
        const QRect g = s->geometry();
        const double r = s->devicePixelRatio() > 0 ? s->devicePixelRatio() : 1.0;
        // The monitor's device rectangle: the X server's, by the screen's name; else its logical
        // rectangle scaled (one factor for everything scales places too).
        QRect d(int(std::lround(g.x() * r)), int(std::lround(g.y() * r)), int(std::lround(g.width() * r)),
                int(std::lround(g.height() * r)));
        for (const Monitor& m : monitors) {
            if (QString::fromStdString(m.name) == s->name() && std::abs(m.rect.width() - d.width()) <= 2 &&
                std::abs(m.rect.height() - d.height()) <= 2)
                d = QRect(m.rect.left, m.rect.top, m.rect.width(), m.rect.height());
        }
        if (cx < d.left() || cx > d.right() || cy < d.top() || cy > d.bottom()) continue;
        // Monitors may overlap (one of the whole output beside the ones the desktop defines): the
        // smallest that holds the area is the one it is on.
        if (found && int64_t(d.width()) * d.height() >= int64_t(best.width()) * best.height()) continue;
        found = true;
        best = d;
        bestLogical = g;
        bestRatio = r;
    }
    if (!found) {
        QScreen* primary = QGuiApplication::primaryScreen();
        return logicalCovering(device, primary ? primary->devicePixelRatio() : 1.0);
    }
    const int left = bestLogical.x() + int(std::floor((device.left - best.left()) / bestRatio));
    const int top = bestLogical.y() + int(std::floor((device.top - best.top()) / bestRatio));
    const int right = bestLogical.x() + int(std::ceil((device.right - best.left()) / bestRatio));
    const int bottom = bestLogical.y() + int(std::ceil((device.bottom - best.top()) / bestRatio));
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace torvane::x11
