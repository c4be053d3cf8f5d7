#include "app/desktop_start.h"

#include "common/errors.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTimer>
#include <QWidget>

#include <cstdio>

// Resources of a static library are registered by hand, from the global namespace.
static void registerDesktopResources() { Q_INIT_RESOURCE(desktop); }

namespace tessaly {

QString dataFolder() {
    // GenericDataLocation is $XDG_DATA_HOME when set to an absolute path, else ~/.local/share.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/tessaly");
}

void enterDataFolderIfAsked(const QStringList& arguments) {
    if (!arguments.mid(1).contains(QLatin1String(kDataFolderSwitch)))
        return;
    const QString folder = dataFolder();
    // The address book and the send log name other people: a folder made here is the user's alone.
    const bool made = !QFileInfo::exists(folder) && QDir().mkpath(folder) &&
                      QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if ((!made && !QFileInfo(folder).isDir()) || !QDir::setCurrent(folder))
        throw Error(QStringLiteral("データフォルダ %1 を作成できません。\r\n"
                                   "ホームフォルダに書き込めるか確かめてください。")
                        .arg(QDir::toNativeSeparators(folder))
                        .toStdString());
}

namespace {

bool quitAfterStartAsked() {
    const QByteArray asked = qgetenv("TESSALY_QUIT_AFTER_START");
    return !asked.isEmpty() && asked != "0";
}

} // namespace

void answerIfAsked(QDialog& box) {
    if (!quitAfterStartAsked())
        return;
    std::fprintf(stderr, "tessaly: TESSALY_QUIT_AFTER_START is set: answering the box\n");
    QTimer::singleShot(100, &box, &QDialog::accept);
}

void quitAfterStartIfAsked(QWidget& mainWindow) {
    if (!quitAfterStartAsked())
        return;
    std::fprintf(stderr, "tessaly: TESSALY_QUIT_AFTER_START is set: closing after start-up\n");
    auto* timer = new QTimer(&mainWindow);
    timer->setInterval(100);
    // Until the program ends: a close that fails to save TSY2.ini shows an error box and the
    // window stays; that box is answered and the close tried again.
    QObject::connect(timer, &QTimer::timeout, &mainWindow, [&mainWindow] {
        if (QWidget* box = QApplication::activeModalWidget())
            box->close();
        else
            mainWindow.close();
    });
    timer->start();
}

QIcon applicationIcon() {
    registerDesktopResources();
    QSvgRenderer renderer(QStringLiteral(":/tessaly/tessaly.svg"));
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace tessaly
