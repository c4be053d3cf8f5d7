// Pictures of the main window's toolbar buttons: the desktop's icon theme where it has one,
// otherwise a small picture drawn here, so that every button shows a picture on any machine.
#pragma once

#include <QIcon>

namespace tessaly {

enum class ToolIcon { Send, Stop, AddressBook, Read, Save, Clear, Log, Settings, End };

QIcon toolIcon(ToolIcon which);

} // namespace tessaly
