// The whole program in a temporary start directory with faked dialogs: TSY2.ini written first,
// every window created by the start-up object, the main window shown.
#pragma once

#include "app/main_window.h"
#include "fixtures/fixtures_dir.h"
#include "app/program.h"
#include "common/text.h"
#include "fixtures/fake_dialogs.h"
#include "fixtures/fake_secret_store.h"
#include "fixtures/sjis.h"
#include "fixtures/temp_start_dir.h"
#include "fixtures/test_ini.h"

#include <QCoreApplication>
#include <QFile>
#include <QInputMethodEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace apptest {

// What decode_attachments.py (Python's email package, as a mail reader reads it) makes of a
// stored message.
inline QJsonObject decodedMessage(const QByteArray& data) {
    QTemporaryDir tmp;
    QFile out(tmp.filePath(QStringLiteral("message.eml")));
    EXPECT_TRUE(out.open(QIODevice::WriteOnly) && out.write(data) == data.size());
    out.close();
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {fixturesDir() + QStringLiteral("/decode_attachments.py"), out.fileName()});
    if (!python.waitForFinished(30000)) {
        python.kill();
        python.waitForFinished(5000);
        ADD_FAILURE() << "decode_attachments.py did not finish";
        return {};
    }
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

using IniValues = ::IniValues;

class App {
public:
    // Writes TSY2.ini (so no first-run message comes; the main window at 30, 40 unless `ini`
    // places it) and Address.csv, starts the program.
    explicit App(TestIni ini = {}, const QByteArray& addressCsv = {}) {
        if (!ini.hasWindow(QStringLiteral("Main_X")))
            ini.window(QStringLiteral("Main_X"), QStringLiteral("30")).window(QStringLiteral("Main_Y"), QStringLiteral("40"));
        dir.write(QStringLiteral("TSY2.ini"), ini.bytes());
        if (!addressCsv.isEmpty())
            dir.write(QStringLiteral("Address.csv"), addressCsv);
        program = std::make_unique<tessaly::Program>(dialogs, keyring);
        program->start();
    }
    // Lets `prepare` lay out the start directory first (files, pipes, permissions); it gives the
    // bytes of TSY2.ini to write, or a null array for none. Then starts the program.
    explicit App(const std::function<QByteArray(TempStartDir&)>& prepare) {
        start(prepare(dir));
    }
    // The same, for a start that asks something: `prepare` also queues the answers.
    explicit App(const std::function<QByteArray(TempStartDir&, FakeDialogs&)>& prepare) {
        start(prepare(dir, dialogs));
    }
    ~App() { program.reset(); }

    TTSY_MainF& main() { return program->mainWindow(); }

    template <typename T> T* child(const char* name) {
        T* found = main().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QToolButton* tool(const char* name) { return child<QToolButton>(name); }
    QLineEdit* edit(const char* name) { return child<QLineEdit>(name); }
    QListWidget* recipients() { return child<QListWidget>("List_To"); }
    QPlainTextEdit* body() { return child<QPlainTextEdit>("Memo_Sjis"); }

    QStringList recipientTexts() {
        QStringList texts;
        for (int i = 0; i < recipients()->count(); ++i)
            texts << recipients()->item(i)->text();
        return texts;
    }

    // Types into a field: ASCII key by key, anything else committed by the input method, as
    // Japanese text arrives.
    static void type(QWidget* field, const QString& text) {
        QString ascii;
        const auto flush = [&] {
            QTest::keyClicks(field, ascii);
            ascii.clear();
        };
        for (const QChar c : text) {
            if (c.unicode() >= 0x20 && c.unicode() < 0x7F) {
                ascii += c;
                continue;
            }
            flush();
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QCoreApplication::sendEvent(field, &commit);
        }
        flush();
    }

    // Types into Edt_To and presses Enter.
    void typeRecipient(const QString& text) {
        QLineEdit* to = edit("Edt_To");
        to->setText(QString());
        type(to, text);
        QTest::keyClick(to, Qt::Key_Return);
    }

    void setBody(const QString& text) { body()->setPlainText(text); }

private:
    void start(const QByteArray& ini) {
        if (!ini.isNull())
            dir.write(QStringLiteral("TSY2.ini"), ini);
        program = std::make_unique<tessaly::Program>(dialogs, keyring);
        program->start();
    }

public:
    // Declared in this order: the start directory outlives the dialogs and the keyring, which
    // outlive the windows.
    TempStartDir dir;
    FakeDialogs dialogs;
    FakeSecretStore keyring;
    std::unique_ptr<tessaly::Program> program;
};

// An address book with two Yamadas and one Sato in group G, member M.
inline QByteArray sampleAddressBook() {
    return sjis(QStringLiteral("\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                               "\"G\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                               "\"G\",\"M\",\"&DUMMY&\",\"\",\"1\"\r\n"
                               "\"G\",\"M\",\"佐藤一郎\",\"ichiro@example.jp\",\"0\"\r\n"
                               "\"G\",\"M\",\"山田太郎\",\"taro@example.jp\",\"0\"\r\n"
                               "\"G\",\"M\",\"山田花子\",\"hanako@example.jp\",\"0\"\r\n"));
}

// Settings of a run to a server on `host`:`port` with the send log and the sent-data file on.
inline IniValues loggedRunSettings(const QString& host, quint16 port) {
    return {{QStringLiteral("Host"), host},
            {QStringLiteral("Port"), QString::number(port)},
            {QStringLiteral("From"), QStringLiteral("me@tessaly.test")},
            {QStringLiteral("ChkBox_Log"), QStringLiteral("1")},
            {QStringLiteral("ChkBox_SendData"), QStringLiteral("1")}};
}

// `recipients` addresses r1@example.jp, r2@..., a Subject and a one-line body.
// The records the send log holds, one a line.
inline int logRecords(App& app) { return int(app.dir.read(QStringLiteral("Log.txt")).count('\n')); }

inline void prepareMail(App& app, int recipients) {
    for (int i = 0; i < recipients; ++i)
        app.typeRecipient(QStringLiteral("r%1@example.jp").arg(i + 1));
    app.edit("Edt_Subject")->setText(QStringLiteral("件名"));
    app.setBody(QStringLiteral("本文"));
}

} // namespace apptest
