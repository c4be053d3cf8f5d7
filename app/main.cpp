#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Tessaly 2.7S"));
    QMainWindow w;
    w.setWindowTitle(QStringLiteral("Tessaly 2.7S"));
    w.show();
    return app.exec();
}
