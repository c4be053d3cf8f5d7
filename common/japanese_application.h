// What makes the whole program Japanese, Qt's own parts included: the file dialog, the context
// menus of the text fields and the buttons of the standard boxes speak Japanese, and every
// window, box and menu writes in the one Japanese font.
#pragma once

class QApplication;

namespace tessaly {

// Loads Qt's Japanese translations (qtbase_ja from Qt's translations folder) into `app` and
// makes the window font the application's font. False when the translations are not installed:
// Qt's own texts then stay English, and everything else works as before.
bool setUpJapanese(QApplication& app);

} // namespace tessaly
