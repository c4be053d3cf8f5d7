#include "common/window_place.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace tessaly {

namespace {

// Enough of a title bar to take hold of it with the mouse.
constexpr int kGripWidth = 100;

int titleBarHeight(const QWidget& window) {
    return std::max(window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window), 16);
}

} // namespace

QPoint reachablePosition(const QWidget& window, QPoint wanted) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return wanted;
    const int width = std::max(window.frameGeometry().width(), window.width());
    const int height = titleBarHeight(window);
    const QRect titleBar(wanted, QSize(width, height));
    for (const QScreen* screen : screens) {
        const QRect shown = screen->availableGeometry().intersected(titleBar);
        if (shown.width() >= std::min(width, kGripWidth) && shown.height() * 2 >= height)
            return wanted;
    }
    QPoint best = wanted;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (const QScreen* screen : screens) {
        const QRect area = screen->availableGeometry();
        const QPoint at(
            std::clamp(wanted.x(), area.left(), std::max(area.left(), area.right() + 1 - width)),
            std::clamp(wanted.y(), area.top(), std::max(area.top(), area.bottom() + 1 - height)));
        const long long dx = at.x() - wanted.x();
        const long long dy = at.y() - wanted.y();
        if (dx * dx + dy * dy < bestDistance) {
            bestDistance = dx * dx + dy * dy;
            best = at;
        }
    }
    return best;
}

QPoint placeWindow(QWidget& window, QPoint wanted) {
    const QPoint at = reachablePosition(window, wanted);
    window.move(at);
    return at;
}

} // namespace tessaly
