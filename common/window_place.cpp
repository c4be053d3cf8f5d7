#include "common/window_place.h"

#include <QGuiApplication>
#include <QRect>
#include <QRegion>
#include <QScreen>
#include <QStyle>
#include <QWidget>

#include <algorithm>
#include <limits>

namespace tessaly {

namespace {

// A window manager's title bar is often taller than the style's own idea of one; too much room
// only keeps a window a little further from the screen's edge.
constexpr int kMinimumTitleBar = 32;
constexpr int kBorder = 4;

// Clamps `wanted` into [low, high], preferring `low` where the range is empty (too large).
int clampInto(int wanted, int low, int high) { return std::clamp(wanted, low, std::max(low, high)); }

} // namespace

QSize outerSize(const QWidget& window) {
    const QRect frame = window.frameGeometry();
    if (window.isVisible() && frame.size() != window.size())
        return frame.size();
    const int titleBar = std::max(
        window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window), kMinimumTitleBar);
    return {window.width() + 2 * kBorder, window.height() + titleBar + kBorder};
}

QPoint reachablePosition(const QWidget& window, QPoint wanted) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return wanted;
    const QSize size = outerSize(window);
    QRegion available;
    for (const QScreen* screen : screens)
        available += screen->availableGeometry();
    if (QRegion(QRect(wanted, size)).subtracted(available).isEmpty())
        return wanted;
    QPoint best = wanted;
    long long bestDistance = std::numeric_limits<long long>::max();
    for (const QScreen* screen : screens) {
        const QRect area = screen->availableGeometry();
        const QPoint at(clampInto(wanted.x(), area.left(), area.right() + 1 - size.width()),
                        clampInto(wanted.y(), area.top(), area.bottom() + 1 - size.height()));
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
