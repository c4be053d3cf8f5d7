#include "bench/support/send_run_bench_support.h"

#include "app/main_window.h"
#include "app/merge_table_window.h"
#include "common/text.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

ProgramRun::IniFile::IniFile(const QString& text) {
    QFile ini(QStringLiteral("TSY2.ini"));
    if (!ini.open(QIODevice::WriteOnly) || ini.write(tessaly::toSjisBytes(text, QString())) < 0)
        throw std::runtime_error("cannot write TSY2.ini");
}

ProgramRun::ProgramRun(const QString& iniText, int recipients, const QString& subject,
                       const QString& body)
    : ini_(iniText), program_(dialogs_, keyring_) {
    program_.start();
    std::vector<std::string> entries;
    for (int i = 0; i < recipients; ++i)
        entries.push_back(
            tessaly::toSjis(QStringLiteral("会員%1 <member%1@example.jp>").arg(i), QString()));
    main().addRecipients(entries);
    main().findChild<QLineEdit*>(QStringLiteral("Edt_Subject"))->setText(subject);
    main().findChild<QPlainTextEdit*>(QStringLiteral("Memo_Sjis"))->setPlainText(body);
}

void ProgramRun::openTable(const QString& path) {
    dialogs_.openFileAnswer = path;
    main().findChild<QAction*>(QStringLiteral("Act_MergeOpen"))->trigger();
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* merge = qobject_cast<TTSY_MergeF*>(window); merge && merge->isVisible())
            merge->close();
    if (dialogs_.prompts != 0 || !main().isEnabled())
        throw std::runtime_error("cannot open the table");
}

std::optional<double> ProgramRun::send() {
    // The user clicks in a window that is drawn and idle: its first painting and the layout of
    // the list are no part of the run.
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::processEvents();
    const auto start = std::chrono::steady_clock::now();
    main().findChild<QToolButton*>(QStringLiteral("TB_Send"))->click();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (dialogs_.prompts != 0 || main().statusText() != QStringLiteral("メッセージ送信完了！"))
        return std::nullopt;
    return seconds;
}

} // namespace bench
