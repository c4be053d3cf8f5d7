// The user works in one window at a time: a secondary window is shown without being modal while
// the main window is disabled; the secondary window enables it again when it closes.
#pragma once

class QWidget;

namespace tessaly {

// Disables `mainWindow` (when given), then shows `window` in front with the focus.
void showOverMainWindow(QWidget& window, QWidget* mainWindow);

} // namespace tessaly
