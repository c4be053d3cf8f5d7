#include "app/program.h"
#include "common/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString title = QStringLiteral("Tessaly 2.7S");
    QApplication::setApplicationName(title);
    QApplication::setApplicationDisplayName(title);
    tessaly::QtDialogs dialogs(title);
    try {
        tessaly::Program program(dialogs);
        program.start();
        return QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, title, QString::fromUtf8(e.what()));
        return 1;
    }
}
