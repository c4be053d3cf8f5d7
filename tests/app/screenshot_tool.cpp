// Draws the main window with a sample mail into a PNG (docs/main_window.png):
//   xvfb-run -a app_screenshot docs/main_window.png
// It runs the whole program in a temporary start directory; nothing of the user's is touched.
#include "app/main_window.h"
#include "app/program.h"
#include "common/qt_dialogs.h"
#include "common/secret_store.h"
#include "common/text.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: app_screenshot OUTPUT.png\n");
        return 2;
    }
    const QString output = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QFile ini(QStringLiteral("TSY2.ini"));
    if (!ini.open(QIODevice::WriteOnly))
        return 1;
    ini.write(tessaly::toSjisBytes(QStringLiteral("[Settei]\r\nHost=127.0.0.1\r\nUserMei=山田太郎\r\n"),
                                   QString()));
    ini.close();

    tessaly::QtDialogs dialogs(QStringLiteral("Tessaly 2.7S"));
    tessaly::NoSecretStore keyring; // drawing a window needs no password
    tessaly::Program program(dialogs, keyring);
    program.start();
    TTSY_MainF& main = program.mainWindow();
    main.addRecipients({tessaly::toSjis(QStringLiteral("山田花子 <hanako@example.jp>"), QString()),
                        tessaly::toSjis(QStringLiteral("佐藤一郎 <ichiro@example.jp>"), QString()),
                        "suzuki@example.jp"});
    main.findChild<QLineEdit*>(QStringLiteral("Edt_Subject"))
        ->setText(QStringLiteral("【ご案内】年末の大掃除について"));
    main.findChild<QPlainTextEdit*>(QStringLiteral("Memo_Sjis"))
        ->setPlainText(QStringLiteral(
            "総務部の山田です。\n\n今年も年末の大掃除を下記のとおり行います。\n"
            "ご協力をお願いいたします。\n\n　日時：１２月２８日（月）１３時～\n"
            "　場所：各フロア\n\n以上\n\n--\n山田太郎\nsoumu@example.jp"));
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    if (!main.grab().save(output)) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
