#include "app/send_menu.h"

#include "common/error_guard.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>

namespace tessaly {

void AddSendMenu(QToolButton* send, QWidget* window, Dialogs& dialogs, const std::vector<SendMenuCommand>& commands) {
    auto* menu = new QMenu(send);
    menu->setObjectName(QStringLiteral("Menu_Send"));
    menu->setAccessibleName(QStringLiteral("送信のメニュー"));
    for (const SendMenuCommand& command : commands) {
        if (command.separated)
            menu->addSeparator();
        QAction* action = menu->addAction(command.text);
        action->setObjectName(QString::fromLatin1(command.name));
        if (!command.keys.isEmpty()) {
            action->setShortcut(command.keys);
            action->setShortcutContext(Qt::WindowShortcut);
            window->addAction(action);
        }
        QObject::connect(action, &QAction::triggered, window, [&dialogs, window, command] {
            if (!command.allowed || command.allowed())
                guarded(dialogs, window, command.run);
        });
    }
    send->setMenu(menu);
    send->setPopupMode(QToolButton::MenuButtonPopup);
    // The arrow that opens the menu is a target of its own, wide and set off by a line, so that a
    // click meant for the menu does not start the run.
    send->setStyleSheet(QStringLiteral(
        "QToolButton#TB_Send::menu-button { width: 22px; border-left: 1px solid palette(mid); }"));
}

} // namespace tessaly
