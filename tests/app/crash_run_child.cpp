// The program as the crash test runs it, again and again, in one start directory: a run of the
// recipients in recipients.txt (one entry a line), answering the resume question with yes and
// the question about a message in flight with no. It prints every question's text and the final
// status on stdout, a line each, as it goes, so that the test knows what was asked before the
// kill. With a table.csv there, its rows are the recipients and the Subject and body carry a
// field. Not a test itself: tests/app/send_run_crash_test.cpp starts and kills it.
#include "app/main_window.h"
#include "app/program.h"
#include "common/dialogs.h"
#include "fixtures/fake_secret_store.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <cstdio>

namespace {

void say(const char* kind, const QString& text) {
    QString oneLine = text;
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
    std::printf("%s %s\n", kind, oneLine.toUtf8().constData());
    std::fflush(stdout);
}

class AnsweringDialogs : public tessaly::Dialogs {
public:
    void message(QWidget*, const QString& text) override { say("MESSAGE", text); }
    void error(QWidget*, const QString& text) override { say("ERROR", text); }
    bool askYesNo(QWidget*, const QString&, const QString& text) override {
        say("QUESTION", text);
        return false; // "send again to the one in flight?" no
    }
    tessaly::Choice askYesNoCancel(QWidget*, const QString&, const QString& text) override {
        say("RESUME", text);
        return tessaly::Choice::Yes;
    }
    QString openFile(QWidget*, const tessaly::FileDialogOptions&) override {
        return QFileInfo(QStringLiteral("table.csv")).absoluteFilePath();
    }
    QString saveFile(QWidget*, const tessaly::FileDialogOptions&) override { return {}; }
    std::optional<QString> askPassword(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AnsweringDialogs dialogs;
    FakeSecretStore keyring;
    tessaly::Program program(dialogs, keyring);
    program.start();
    TTSY_MainF& window = program.mainWindow();

    // With a table its rows are the recipients, and the texts carry one of its fields.
    const bool table = QFileInfo::exists(QStringLiteral("table.csv"));
    if (table) {
        window.TB_MergeOpenClick();
        window.setEnabled(true); // the table window stays open beside it, as a user leaves it
    } else {
        QFile list(QStringLiteral("recipients.txt"));
        if (!list.open(QIODevice::ReadOnly))
            return 2;
        std::vector<std::string> entries;
        for (const QByteArray& line : list.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                entries.push_back(line.trimmed().toStdString());
        window.addRecipients(entries);
    }
    const QString field = table ? QStringLiteral(" {{金額}}") : QString();
    window.findChild<QLineEdit*>(QStringLiteral("Edt_Subject"))
        ->setText(QStringLiteral("Crash test") + field);
    window.findChild<QPlainTextEdit*>(QStringLiteral("Memo_Sjis"))
        ->setPlainText(QStringLiteral("Body") + field);
    window.TB_SendClick();
    say("STATUS", window.statusText());
    return 0;
}
