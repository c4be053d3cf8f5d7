// Windows placed from stored or derived positions must come up where the user can use them: a
// position stored on a machine with a larger or a second screen may lie partly or wholly off the
// screens there are now.
#pragma once

#include <QPoint>
#include <QSize>

class QWidget;

namespace tessaly {

// The size `window` takes on the screen with its frame: its frame's size once it has been shown,
// before that its size with room for a title bar and borders.
QSize outerSize(const QWidget& window);

// Where `window` can stand with its top-left corner as near as possible to `wanted`: `wanted`
// itself when the whole window lies on the screens' available area there, otherwise the nearest
// position at which it lies wholly on one screen, on the screen that needs the shortest move. A
// window larger than every screen keeps its top-left corner on the screen, so that its title
// bar can be taken hold of.
QPoint reachablePosition(const QWidget& window, QPoint wanted);
// Moves `window` to reachablePosition(window, wanted) and gives that position.
QPoint placeWindow(QWidget& window, QPoint wanted);

} // namespace tessaly
