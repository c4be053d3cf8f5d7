#include "common/error_guard.h"

#include "common/dialogs.h"
#include "common/errors.h"

#include <QString>
#include <exception>
#include <new>

namespace tessaly {

bool guarded(Dialogs& dialogs, QWidget* parent, const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (const Error& e) {
        dialogs.error(parent, QString::fromUtf8(e.what()));
    } catch (const std::bad_alloc&) {
        dialogs.error(parent, QStringLiteral("メモリが不足したため、処理を中止しました。\r\n"
                                             "他のプログラムを閉じてから、もう一度お試しください。"));
    } catch (...) {
        // Only the program's own errors carry a text meant for the user; a library's exception
        // speaks English about its insides. Still tell the user the command did not finish.
        dialogs.error(parent, QStringLiteral("予期しないエラーが発生しました。"));
    }
    return false;
}

} // namespace tessaly
