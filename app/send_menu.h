// TB_Send's drop-down menu: the commands that go with sending but are not the run itself.
#pragma once

#include <QKeySequence>
#include <QString>
#include <functional>
#include <vector>

class QToolButton;
class QWidget;

namespace tessaly {

class Dialogs;

struct SendMenuCommand {
    const char* name; // the action's object name
    QString text;
    QKeySequence keys;             // none: from the menu only
    std::function<bool()> allowed; // whether it may run now; none: always
    std::function<void()> run;
    bool separated = false; // a line before it
};

// Gives `send` the menu of `commands` in order. Their keys work in `window` while the menu is
// closed too; each runs inside the general error display, only when allowed.
void AddSendMenu(QToolButton* send, QWidget* window, Dialogs& dialogs, const std::vector<SendMenuCommand>& commands);

} // namespace tessaly
