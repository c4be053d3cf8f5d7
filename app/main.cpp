#include "app/desktop_start.h"
#include "app/main_window.h"
#include "app/program.h"
#include "common/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString title = QStringLiteral("Tessaly 2.7S");
    // The application's title; not its display name, which the platform would append to every
    // window caption.
    QApplication::setApplicationName(title);
    QApplication::setWindowIcon(tessaly::applicationIcon());
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("jp.tessaly.Tessaly"));
    tessaly::QtDialogs dialogs(title);
    try {
        // Before anything reads the start directory.
        tessaly::enterDataFolderIfAsked(QApplication::arguments());
        tessaly::Program program(dialogs);
        tessaly::quitAfterStartIfAsked(program.mainWindow());
        program.start();
        return QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, title, QString::fromUtf8(e.what()));
        return 1;
    }
}
