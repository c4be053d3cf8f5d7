#include "common/secondary_window.h"

#include <QWidget>

namespace tessaly {

void showOverMainWindow(QWidget& window, QWidget* mainWindow) {
    if (mainWindow)
        mainWindow->setEnabled(false);
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace tessaly
