// Windows placed from stored or derived positions must come up where the user can reach them:
// a position stored on a machine with a larger or a second screen may lie off every screen now.
#pragma once

#include <QPoint>

class QWidget;

namespace tessaly {

// Where `window` can stand with its top-left corner as near as possible to `wanted` so that the
// user can reach its title bar: `wanted` itself when enough of the title bar lies on a screen's
// available area, otherwise the nearest position at which all of it does (as far as the window
// fits), on the screen that needs the shortest move.
QPoint reachablePosition(const QWidget& window, QPoint wanted);
// Moves `window` to reachablePosition(window, wanted) and gives that position.
QPoint placeWindow(QWidget& window, QPoint wanted);

} // namespace tessaly
