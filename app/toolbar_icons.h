// Pictures of the main window's toolbar buttons: the desktop's icon theme where it has one,
// otherwise a small picture drawn here, so that every button shows a picture on any machine.
#pragma once

#include <QIcon>

class QToolBar;
class QToolButton;

namespace tessaly {

enum class ToolIcon { Send, Stop, AddressBook, Read, Save, Clear, Log, Settings, End };

QIcon toolIcon(ToolIcon which);

// A button of `bar` named `name` with the picture `icon`; `hint` is its tooltip and, the button
// showing no text, its accessible name.
QToolButton* addToolButton(QToolBar* bar, const char* name, ToolIcon icon, const QString& hint, bool enabled);

} // namespace tessaly
