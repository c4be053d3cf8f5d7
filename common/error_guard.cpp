#include "common/error_guard.h"

#include "common/dialogs.h"

#include <QString>
#include <exception>

namespace tessaly {

bool guarded(Dialogs& dialogs, QWidget* parent, const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (const std::exception& e) {
        dialogs.error(parent, QString::fromUtf8(e.what()));
    } catch (...) {
        // Nothing to name: still tell the user the command did not finish.
        dialogs.error(parent, QStringLiteral("予期しないエラーが発生しました。"));
    }
    return false;
}

} // namespace tessaly
