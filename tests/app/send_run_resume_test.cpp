// Runs that go on past what used to end them, as the user sees them: a refused recipient skipped
// and listed, a run that lost the answer to its data resumed without sending anyone the mail
// twice unless the user says so, settings edited during a run. (How the runner waits out
// temporary refusals and what a cancelled resume leaves is tested in tests/sending.)
#include "app_harness.h"

#include "app/refused_window.h"
#include "fixtures/smtp_scripted_server.h"
#include "sending/send_runner.h"
#include "settings/settings_window.h"

#include <QApplication>
#include <QDir>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

using apptest::App;
using apptest::IniValues;
using apptest::loggedRunSettings;
using apptest::prepareMail;
using tessaly::test::SmtpScriptedServer;
using Kind = FakeDialogs::Kind;

QStringList journals(App& app) {
    return QDir(app.dir.path()).entryList({QStringLiteral("Tessaly-*.journal")}, QDir::Files);
}

TTSY_RefusedF* refusedWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("TTSY_RefusedF"))
            return static_cast<TTSY_RefusedF*>(w);
    return nullptr;
}

void refusedAt(SmtpScriptedServer& s, const QByteArray& rcptReply) {
    s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    s.expect("RCPT TO:<r2@example.jp>").send(rcptReply);
}

TEST(SendRunGoesOn, ARefusedRecipientIsSkippedLoggedAndListed) {
    SmtpScriptedServer server;
    server.greet().mail();
    refusedAt(server, "550 5.1.1 <r2@example.jp>: no such user\r\n");
    server.mail().quit();

    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    app.program->settings().SkipRefused = true;
    prepareMail(app, 3);
    app.tool("TB_Send")->click();

    EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played());
    // Two sent, one refused with its reason; the finished run leaves no journal.
    const QByteArray log = app.dir.read(QStringLiteral("Log.txt"));
    EXPECT_EQ(log.count('\n'), 3);
    EXPECT_TRUE(log.contains(sjis(
        QStringLiteral("\"r2（宛先エラー: 550 5.1.1 <r2@example.jp>: no such user）\""))));
    EXPECT_TRUE(journals(app).isEmpty());

    TTSY_RefusedF* window = refusedWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->findChild<QPlainTextEdit*>(QStringLiteral("Memo_Refused"))->toPlainText(),
              QStringLiteral("r2@example.jp\t550 5.1.1 <r2@example.jp>: no such user"));
    window->close();
    EXPECT_TRUE(app.main().isEnabled());
}

TEST(SendRunGoesOn, ALostAnswerIsNamedAtTheResumeAndNobodyGetsTwo) {
    SmtpScriptedServer server;
    server.greet().mail();
    // The second message goes out whole, and the connection ends before the answer.
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    server.expect("RCPT TO:<r2@example.jp>").send("250 ok\r\n");
    server.expect("DATA").send("354 go\r\n").expectData().close();
    // The resumed run: only the third.
    server.accept().greet();
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    server.expect("RCPT TO:<r3@example.jp>").send("250 ok\r\n");
    server.expect("DATA").send("354 go\r\n").expectData().send("250 queued\r\n");
    server.quit();

    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 3);
    app.tool("TB_Send")->click();
    ASSERT_EQ(app.dialogs.count(Kind::Error), 1);
    EXPECT_EQ(journals(app).size(), 1);

    // The same mail to the same list again: the failed run left the button on. The one in
    // flight is not counted with the rest, and Enter at its question would not send it again.
    app.dialogs.clear();
    app.dialogs.queueChoice(tessaly::Choice::Yes);
    app.dialogs.queueAnswer(false); // the one in flight has it already, the user decides
    app.tool("TB_Send")->click();
    EXPECT_EQ(
        app.dialogs.texts(Kind::Question),
        (QStringList{
            QStringLiteral("前回の送信は2件目で中断しています。残りの1件に送信しますか？\r\n"
                           "ほかに、届いたかどうか分からない宛先が1件あります"
                           "（「はい」のあとで確かめます）。"),
            QStringLiteral("次の宛先は送信の途中で中断したため、届いたかどうか分かりません。\r\n"
                           "2件目: r2@example.jp\r\nこの宛先にもう一度送信しますか？")}));
    EXPECT_TRUE(app.dialogs.last(Kind::Question).defaultNo);
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played());
    EXPECT_EQ(server.messages().size(), 3); // r1, r2 once, r3
    EXPECT_TRUE(journals(app).isEmpty());
    // r2 is in the send log, marked as never confirmed by the server.
    const QByteArray log = app.dir.read(QStringLiteral("Log.txt"));
    EXPECT_EQ(log.count('\n'), 3);
    EXPECT_TRUE(log.contains(sjis(QStringLiteral("\"r2（サーバー未確認）\"")))) << log.toStdString();
    // The body went to the sent-data file once, by the run that completed.
    EXPECT_EQ(app.dir.read(QStringLiteral("SendData.txt")),
              sjis(QStringLiteral("本文\r\n")));
}

// いいえ at the resume sends to everyone, after a second question whose default is いいえ: Enter
// there sends nothing.
TEST(SendRunGoesOn, SendingToEveryoneAgainIsAskedWithNoAsDefault) {
    SmtpScriptedServer server;
    server.greet().mail();
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    server.expect("RCPT TO:<r2@example.jp>").send("451 busy\r\n");
    server.accept().greet().quit();

    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 2);
    app.tool("TB_Send")->click();
    app.dialogs.clear();
    app.dialogs.queueChoice(tessaly::Choice::No);
    app.dialogs.queueAnswer(false);
    app.tool("TB_Send")->click();
    ASSERT_EQ(app.dialogs.count(Kind::Question), 2);
    EXPECT_EQ(app.dialogs.last(Kind::Question).text,
              QStringLiteral("前回受け付けられた1件の宛先にも、同じメールがもう一度届きます。\r\n"
                             "全員に送信してよろしいですか？"));
    EXPECT_TRUE(app.dialogs.last(Kind::Question).defaultNo);
    EXPECT_EQ(app.main().statusText(), QStringLiteral("送信を取りやめました"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_EQ(server.messages().size(), 1);
    EXPECT_EQ(journals(app).size(), 1); // kept for a later send
}

// The run reads its settings once, when the user presses send: the server, the greeting's user id
// and the send log's path edited in the settings window during a pause change nothing of it, not
// even the connection it opens again after the server closed the idle one; the next run takes
// the new values.
TEST(SendRunGoesOn, SettingsEditedDuringAPauseChangeOnlyTheNextRun) {
    const auto greetAs = [](SmtpScriptedServer& s, const QByteArray& user) {
        s.send("220 ready\r\n").expect("HELO " + user).send("250 hello\r\n");
    };
    SmtpScriptedServer first;
    greetAs(first, "pc01");
    first.mail().mail().close(); // idle during the pause: the server ends the connection
    first.accept();
    greetAs(first, "pc01");
    first.mail().quit();
    SmtpScriptedServer second;
    greetAs(second, "pc02");
    second.mail().mail().mail().quit();

    IniValues settings = loggedRunSettings(QStringLiteral("localhost"), first.port());
    settings.emplace_back(QStringLiteral("User"), QStringLiteral("pc01"));
    App app(settings);
    app.program->settings().PauseEvery = 2;
    app.program->settings().PauseSeconds = 1;
    app.dir.write(QStringLiteral("Log2.txt"), {});
    prepareMail(app, 3);
    TTSY_SetteiF& settei = app.program->settingsWindow();
    bool edited = false;
    QObject::connect(&app.main().runner(), &tessaly::SendRunner::stateChanged, [&](tessaly::RunState s) {
        if (s != tessaly::RunState::Pausing || edited)
            return;
        edited = true;
        settei.Edt_Host->setText(QStringLiteral("127.0.0.1"));
        settei.Edt_Port->setText(QString::number(second.port()));
        settei.Edt_UserID->setText(QStringLiteral("pc02"));
        settei.Edt_Log->setText(app.dir.filePath(QStringLiteral("Log2.txt")));
        settei.ChkBox_Log->setChecked(true);
    });
    app.tool("TB_Send")->click();
    EXPECT_TRUE(edited);
    EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.finished(); }, 5000));
    EXPECT_TRUE(first.played());
    EXPECT_EQ(first.messages().size(), 3);
    EXPECT_EQ(second.connections(), 0);
    EXPECT_EQ(app.dir.read(QStringLiteral("Log.txt")).count('\n'), 3);
    EXPECT_TRUE(app.dir.read(QStringLiteral("Log2.txt")).isEmpty());

    app.tool("TB_Send")->click();
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.finished(); }, 5000));
    EXPECT_TRUE(second.played());
    EXPECT_EQ(second.messages().size(), 3);
    EXPECT_EQ(app.dir.read(QStringLiteral("Log.txt")).count('\n'), 3);
    EXPECT_EQ(app.dir.read(QStringLiteral("Log2.txt")).count('\n'), 3);
}

} // namespace
