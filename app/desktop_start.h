// What differs when Tessaly is started as a desktop program rather than from a terminal: where
// its files live, its icon, and a way for the package check to let it start and end by itself.
#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

namespace tessaly {

// The switch the desktop entry starts Tessaly with. Started from a terminal without it, Tessaly
// keeps its files in the folder it is started in; with it, in dataFolder().
inline constexpr char kDataFolderSwitch[] = "--data-folder";

// $XDG_DATA_HOME/tessaly, by default ~/.local/share/tessaly.
QString dataFolder();

// With kDataFolderSwitch among `arguments` (the program's, its name first): creates dataFolder()
// when missing and makes it the working directory, so that everything that reads the start
// directory afterwards finds it there. Without the switch nothing changes. Throws Error when the
// folder cannot be created or entered.
void enterDataFolderIfAsked(const QStringList& arguments);

// When the environment variable TESSALY_QUIT_AFTER_START is set (to anything but empty or 0):
// once started, Tessaly answers every message box as OK would and then closes `mainWindow`, which
// saves TSY2.ini and ends the program as the 終了 button does. For the package check, which
// starts the installed program without anyone to click. Call before the window is first shown:
// the first start's message appears while it is being shown.
void quitAfterStartIfAsked(QWidget& mainWindow);
// The same for a box that stands alone, before any window exists (a data folder that cannot be
// made): when TESSALY_QUIT_AFTER_START is set, `box` is answered as OK would soon after it opens.
void answerIfAsked(QDialog& box);

// The application icon (the SVG installed for the desktop menu), for every window's title bar.
QIcon applicationIcon();

} // namespace tessaly
