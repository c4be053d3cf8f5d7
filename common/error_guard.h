// The general error display: every command handler runs through it, so that no exception ever
// crosses Qt's event loop; an escaping error's text is shown in an error box and the program goes on.
#pragma once

#include <QObject>
#include <functional>
#include <type_traits>
#include <utility>

class QWidget;

namespace tessaly {

class Dialogs;

// Runs `command`; a tessaly::Error that escapes it is shown by `dialogs.error` with its text, any
// other exception with a Japanese text of the program's own (running out of memory, or an
// unexpected error), never the library's English one.
// Returns true when the command ended without an exception.
bool guarded(Dialogs& dialogs, QWidget* parent, const std::function<void()>& command);

namespace detail {
// Calls a handler with the signal's arguments when it takes them, else with none: a
// `clicked(bool)` signal can drive a `void TB_SendClick()` handler.
template <typename Window, typename Handler, typename... Args>
void callHandler(Window* window, Handler& handler, Args&&... args) {
    if constexpr (std::is_member_function_pointer_v<Handler>) {
        if constexpr (std::is_invocable_v<Handler&, Window*, Args&&...>)
            std::invoke(handler, window, std::forward<Args>(args)...);
        else
            std::invoke(handler, window);
    } else {
        if constexpr (std::is_invocable_v<Handler&, Args&&...>)
            std::invoke(handler, std::forward<Args>(args)...);
        else
            std::invoke(handler);
    }
}
} // namespace detail

// Connects `signal` of `sender` to a command handler of `window` that runs inside `guarded`, with
// `window` as the error box's parent and as the connection's context. `handler` is a member
// function of the window or any callable; it gets the signal's arguments if it takes them.
//   connectGuarded(dialogs, TB_Send, &QToolButton::clicked, this, &TTSY_MainF::TB_SendClick);
template <typename Sender, typename Signal, typename Window, typename Handler>
QMetaObject::Connection connectGuarded(Dialogs& dialogs, const Sender* sender, Signal signal, Window* window,
                                       Handler handler) {
    Dialogs* shown = &dialogs;
    return QObject::connect(sender, signal, window, [shown, window, handler](auto&&... args) mutable {
        guarded(*shown, window, [&] { detail::callHandler(window, handler, args...); });
    });
}

} // namespace tessaly
