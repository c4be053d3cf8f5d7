#include "app/desktop_start.h"
#include "app/main_window.h"
#include "app/program.h"
#include "common/japanese_application.h"
#include "common/keychain_secret_store.h"
#include "common/qt_dialogs.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sys/resource.h>

int main(int argc, char** argv) {
    // The SMTP password stays in memory while the program runs; a core file would carry it to
    // the disk.
    const struct rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    QApplication app(argc, argv);
    tessaly::setUpJapanese(app);
    // Qt's sign-in code reports what it receives; nothing of a sign-in belongs in the output.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.networkauth*=false"));
    const QString title = QStringLiteral("Tessaly 2.7S");
    // The application's title; not its display name, which the platform would append to every
    // window caption.
    QApplication::setApplicationName(title);
    QApplication::setWindowIcon(tessaly::applicationIcon());
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("jp.tessaly.Tessaly"));
    tessaly::QtDialogs dialogs(title);
    tessaly::KeychainSecretStore keyring(QStringLiteral("Tessaly"));
    try {
        // Before anything reads the start directory.
        tessaly::enterDataFolderIfAsked(QApplication::arguments());
        int result = 0;
        {
            tessaly::Program program(dialogs, keyring);
            tessaly::quitAfterStartIfAsked(program.mainWindow());
            program.start();
            result = QApplication::exec();
        }
        // Everything is saved by now; a keyring call stuck on the bus would hold the end back.
        if (keyring.callHanging()) {
            std::fflush(nullptr);
            std::_Exit(result);
        }
        return result;
    } catch (const std::exception& e) {
        QMessageBox box(QMessageBox::Critical, title, QString::fromUtf8(e.what()), QMessageBox::Ok);
        tessaly::answerIfAsked(box);
        box.exec();
        return 1;
    }
}
