#include "app/program.h"
#include "app/toolbar_icons.h"
#include "common/keychain_secret_store.h"
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
    QApplication::setWindowIcon(tessaly::toolIcon(tessaly::ToolIcon::Send));
    tessaly::QtDialogs dialogs(title);
    tessaly::KeychainSecretStore keyring(QStringLiteral("Tessaly"));
    try {
        tessaly::Program program(dialogs, keyring);
        program.start();
        return QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, title, QString::fromUtf8(e.what()));
        return 1;
    }
}
