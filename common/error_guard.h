// The general error display: every command handler runs through it, so that no exception ever
// crosses Qt's event loop; an escaping error's text is shown in an error box and the program goes on.
#pragma once

#include <functional>

class QWidget;

namespace tessaly {

class Dialogs;

// Runs `command`; an exception that escapes it is shown by `dialogs.error` with its text.
// Returns true when the command ended without an exception.
bool guarded(Dialogs& dialogs, QWidget* parent, const std::function<void()>& command);

} // namespace tessaly
