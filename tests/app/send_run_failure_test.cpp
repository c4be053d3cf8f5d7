// Send runs that fail: refusals in the middle of a run from a scripted server, an unknown host
// and a refused connection.
#include "app_harness.h"

#include "fixtures/sjis.h"
#include "fixtures/smtp_scripted_server.h"
#include "settings/settings_window.h"
#include "smtp/smtp_client.h"

#include <QLabel>
#include <QTcpServer>
#include <QTimer>

namespace {

using apptest::App;
using apptest::IniValues;
using apptest::logRecords;
using apptest::loggedRunSettings;
using apptest::prepareMail;
using tessaly::test::SmtpScriptedServer;
using Kind = FakeDialogs::Kind;

struct Buttons {
    bool send;
    bool stop;
    bool clear;
};

void expectButtons(App& app, Buttons expected) {
    EXPECT_EQ(app.tool("TB_Send")->isEnabled(), expected.send);
    EXPECT_EQ(app.tool("TB_Stop")->isEnabled(), expected.stop);
    EXPECT_EQ(app.tool("TB_Clear")->isEnabled(), expected.clear);
}

// What a failed run's status adds to how far it got.
const QString kNextStep = QStringLiteral("。原因を直して「メール送信開始」を押すと、続きを送ります");

// One refused step in the second message of three.
struct Refusal {
    const char* name;
    std::function<void(SmtpScriptedServer&)> secondMessage;
    QStringList errors;   // error boxes, in order
    QString status;
    Buttons buttons;
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class RefusedMidRun : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusedMidRun, StopsWithTheErrorAndTheNextRunConnectsAgain) {
    const Refusal& refusal = GetParam();
    SmtpScriptedServer server;
    server.greet().mail();
    refusal.secondMessage(server);
    // The failed run's connection is closed; the next run opens a new one.
    server.accept().greet().mail(1).mail(1).mail(1).quit();

    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 3);
    app.tool("TB_Send")->click();

    EXPECT_EQ(app.dialogs.texts(Kind::Error), refusal.errors);
    EXPECT_EQ(app.main().statusText(), refusal.status);
    expectButtons(app, refusal.buttons);
    EXPECT_EQ(logRecords(app), 1); // only the message that was sent
    EXPECT_TRUE(app.dir.read(QStringLiteral("SendData.txt")).isEmpty());

    // Send works at once. A recipient added makes another list of the same mail: the next run
    // asks, connects anew and sends to the rest and the added one, not to r1 again.
    app.dialogs.clear();
    app.typeRecipient(QStringLiteral("r4@example.jp"));
    app.dialogs.queueChoice(tessaly::Choice::Yes);
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.dialogs.texts(),
              QStringList{QStringLiteral("前回の送信は2件目で中断しています。残りの3件に送信しますか？\r\n"
                                         "（残りには、前回のあとに加えた宛先1件を含みます）")});
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    expectButtons(app, {true, false, true});
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played());
    EXPECT_EQ(server.connections(), 2);
    EXPECT_EQ(server.lines().count("RCPT TO:<r1@example.jp>"), 1);
    EXPECT_EQ(logRecords(app), 4);
}

const QString kSendError = QStringLiteral("メール送信中にエラーが発生しました。");
// What the box of a run that stopped after its first message leads with.
const QString kAfterOne = QStringLiteral("（1件送信済み）。");
const QString kRestOnly = QStringLiteral("もう一度送信してください（送信済みの宛先には送らずに、残りにだけ送れます）。");

INSTANTIATE_TEST_SUITE_P(
    Steps, RefusedMidRun,
    ::testing::Values(
        Refusal{"Rcpt",
                [](SmtpScriptedServer& s) {
                    s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                    s.expect("RCPT TO:<*").send("550 no such user\r\n");
                },
                // The server's text alone would not say who was refused.
                {QStringLiteral("「宛先」の段階で送信が止まりました") + kAfterOne +
                 QStringLiteral("宛先のアドレスと、サーバーの応答を確かめてから、") + kRestOnly +
                 QStringLiteral("\r\n宛先 r2@example.jp はサーバーに受け付けられ"
                                "ませんでした（550 no such user）。アドレスを確かめてください。")},
                QStringLiteral("送信エラー（1件送信済みで中断）") + kNextStep,
                {true, false, false}},
        Refusal{"Data",
                [](SmtpScriptedServer& s) {
                    s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                    s.expect("RCPT TO:<*").send("250 ok\r\n");
                    s.expect("DATA").send("451 try later\r\n");
                },
                {QStringLiteral("「本文」の段階で送信が止まりました") + kAfterOne +
                 QStringLiteral("サーバーが一時的に受け付けていません。しばらくしてから") + kRestOnly +
                 QStringLiteral("\r\n451 try later")},
                QStringLiteral("送信エラー（1件送信済みで中断）") + kNextStep,
                {true, false, false}},
        Refusal{"EndOfData",
                [](SmtpScriptedServer& s) {
                    s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                    s.expect("RCPT TO:<*").send("250 ok\r\n");
                    s.expect("DATA").send("354 go\r\n").expectData().send("554 rejected\r\n");
                },
                // One box: the client's event between the step and the server's reply.
                {QStringLiteral("「本文」の段階で送信が止まりました") + kAfterOne +
                 QStringLiteral("サーバーの応答を確かめてから、") + kRestOnly + QStringLiteral("\r\n") +
                 kSendError + QStringLiteral("\r\n554 rejected")},
                QStringLiteral("メール送信中エラー！（1件送信済みで中断）") + kNextStep,
                {true, false, false}},
        // Read whole, a refusal of several lines is a refusal: the message is not logged as sent.
        Refusal{"EndOfDataInSeveralLines",
                [](SmtpScriptedServer& s) {
                    s.expect("RSET").send("250-ok\r\n250 ok\r\n").expect("MAIL FROM:<*").send("250-a\r\n250 b\r\n");
                    s.expect("RCPT TO:<*").send("250-c\r\n250 d\r\n");
                    s.expect("DATA").send("354-go\r\n354 on\r\n").expectData();
                    s.send("554-5.7.1 rejected\r\n554-as spam\r\n554 see policy\r\n");
                },
                {QStringLiteral("「本文」の段階で送信が止まりました") + kAfterOne +
                 QStringLiteral("サーバーの応答を確かめてから、") + kRestOnly + QStringLiteral("\r\n") +
                 kSendError + QStringLiteral("\r\n554-5.7.1 rejected\r\n554-as spam\r\n554 see policy")},
                QStringLiteral("メール送信中エラー！（1件送信済みで中断）") + kNextStep,
                {true, false, false}}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(SendRunFailure, UnknownHostIsReportedByTheClient) {
    App app(loggedRunSettings(QStringLiteral("no such host"), 25));
    app.main().setOsVersion(4, 0); // no host check before the run: the client meets the name
    prepareMail(app, 1);
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.dialogs.texts(Kind::Error),
              QStringList{QStringLiteral("「接続」の段階で送信が止まりました（0件送信済み）。"
                                         "設定画面の HOST名とポート番号、ネットワークを確かめてから、"
                                         "もう一度送信してください。\r\n"
                                         "指定されたホストが存在しません。\r\nNull Remote Address")});
    EXPECT_EQ(app.main().statusText(),
              QStringLiteral("指定されたホストが存在しません。（0件送信済みで中断）") + kNextStep);
    expectButtons(app, {true, false, false});
}

TEST(SendRunFailure, RefusedConnection) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), closedPort));
    prepareMail(app, 1);
    app.tool("TB_Send")->click();
    const QStringList errors = app.dialogs.texts(Kind::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("「接続」の段階で送信が止まりました（0件送信済み）。"
                                                    "設定画面の HOST名とポート番号、ネットワークを確かめてから、"
                                                    "もう一度送信してください。\r\n"
                                                    "ホスト接続に失敗しました。\r\nConnection ")))
        << errors[0].toStdString();
    EXPECT_EQ(app.main().statusText(),
              QStringLiteral("ホスト接続に失敗しました。（0件送信済みで中断）") + kNextStep);
    expectButtons(app, {true, false, false});
    EXPECT_EQ(logRecords(app), 0);
}

TEST(SendRunFailure, PortThatIsNoNumberEndsTheRunBeforeConnecting) {
    SmtpScriptedServer server; // never connected to
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    app.program->settingsWindow().Edt_Port->clear();
    prepareMail(app, 1);
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.dialogs.texts(Kind::Error),
              QStringList{QStringLiteral("'' は正しい整数値ではありません。")});
    EXPECT_EQ(server.connections(), 0);
    expectButtons(app, {true, false, false});
}

// Bad addresses, wherever they came from, are all named in one box before anything connects.
TEST(SendRunFailure, BadRecipientsEndTheRunBeforeItConnects) {
    SmtpScriptedServer server; // never connected to
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 1);
    app.main().addRecipients({"inj x@example.com", "inj<>@example.com"}, QStringLiteral("アドレス帳"));
    app.main().addRecipients({sjis("山田\n太郎 <t@example.jp>")}, QStringLiteral("ファイル list.txt"));
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.dialogs.texts(Kind::Error),
              QStringList{QStringLiteral(
                  "次の宛先はメールアドレスとして正しくないため、送信を始めませんでした。"
                  "直すか宛先一覧から削除してから、もう一度送信してください。\r\n"
                  "・2件目（アドレス帳）：inj x@example.com　… 空白があります\r\n"
                  "・3件目（アドレス帳）：inj<>@example.com　… アドレスがありません\r\n"
                  "・4件目（ファイル list.txt）：山田 太郎 <t@example.jp>　… 宛名に改行があります")});
    QTest::qWait(50);
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(server.received().isEmpty());
    expectButtons(app, {true, false, true});
    EXPECT_EQ(logRecords(app), 0);
}

// Every message was accepted and logged: an odd answer to QUIT is no failure of the run.
TEST(SendRunFailure, OddQuitReplyAfterEveryMessageIsNoError) {
    SmtpScriptedServer server;
    server.greet().mail().expect("QUIT").send("350 odd\r\n").close();
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 1);
    app.tool("TB_Send")->click();
    EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
    EXPECT_EQ(app.main().statusText(),
              QStringLiteral("メッセージ送信完了！（終了時のサーバーの応答: 350 odd）"));
    expectButtons(app, {true, false, true});
    EXPECT_EQ(logRecords(app), 1);
    EXPECT_FALSE(app.dir.read(QStringLiteral("SendData.txt")).isEmpty());
}

// After a refusal the server hears QUIT on the connection that still works; what a server said
// before it closed (a 421) is in the box.
TEST(SendRunFailure, QuitAfterAnErrorAndTheServersLastWordsShown) {
    {
        SmtpScriptedServer server;
        server.greet().exchange({.data = "554 no service\r\n"}).expect("QUIT").close();
        App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
        prepareMail(app, 1);
        app.tool("TB_Send")->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
        EXPECT_TRUE(server.played()) << server.failure().toStdString();
        EXPECT_TRUE(app.dialogs.lastText().endsWith(QStringLiteral("\r\n554 no service")));
    }
    SmtpScriptedServer server;
    server.greet().mail().send("421 4.4.2 idle too long, closing\r\n").close();
    server.accept().send("554 busy\r\n").close();
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 2);
    app.tool("TB_Send")->click();
    const QStringList errors = app.dialogs.texts(Kind::Error);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("（1件送信済み）"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("421 4.4.2 idle too long, closing"))) << errors[0].toStdString();
}

// "送信前に確認する": the question names the count and the server, いいえ is its default, and
// いいえ sends nothing.
TEST(SendRunFailure, ConfirmationBeforeTheRun) {
    SmtpScriptedServer server;
    server.greet().mail().mail().quit();
    App app(TestIni(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()))
                .submission(QStringLiteral("ConfirmSend"), QStringLiteral("1")));
    prepareMail(app, 2);
    app.dialogs.queueAnswer(false);
    app.tool("TB_Send")->click();
    const FakeDialogs::Call asked = app.dialogs.last(Kind::Question);
    EXPECT_EQ(asked.title, QStringLiteral("送信の確認"));
    EXPECT_EQ(asked.text, QStringLiteral("2件の宛先に送信します。よろしいですか？\r\n送信サーバー：127.0.0.1:%1")
                              .arg(server.port()));
    EXPECT_TRUE(asked.defaultNo);
    QTest::qWait(50);
    EXPECT_EQ(server.connections(), 0);
    expectButtons(app, {true, false, true});

    app.dialogs.clear();
    app.dialogs.queueAnswer(true);
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played());
}

TEST(SendRunFailure, DeletingRecipientsDuringTheRunChangesNothing) {
    SmtpScriptedServer server;
    server.greet().mail().mail().mail().quit();
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 3);
    // While the first message is sent the user empties the list.
    bool deleted = false;
    app.main().smtpClient().OnSuccess = [&](QObject*) {
        if (deleted)
            return;
        deleted = true;
        app.recipients()->selectAll();
        app.main().Cmd_DelClick();
    };
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.recipients()->count(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played());
    const QList<QByteArray> lines = server.lines();
    EXPECT_EQ(lines.count("RCPT TO:<r3@example.jp>"), 1);
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
}

// A plain stop while connecting is dropped; a close is not, or the whole list would go out first.
TEST(SendRunFailure, ClosingWhileConnectingSendsNothing) {
    SmtpScriptedServer server;
    server.pause(300).greet().quit();
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    app.main().setOsVersion(4, 0); // no host check: the run goes straight to the connection
    prepareMail(app, 2);
    QTimer::singleShot(100, &app.main(), [&] { app.main().close(); });
    app.tool("TB_Send")->click();
    EXPECT_FALSE(app.main().isVisible());
    EXPECT_FALSE(server.received().contains("MAIL FROM"));
    EXPECT_EQ(logRecords(app), 0);
    EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
}

TEST(SendRunFailure, ClosingDuringARunEndsTheRunFirst) {
    SmtpScriptedServer server;
    server.greet().mail().quit();
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 3);
    app.main().smtpClient().OnSuccess = [&](QObject*) { app.main().close(); };
    app.tool("TB_Send")->click();
    EXPECT_FALSE(app.main().isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played()); // one message, then QUIT
    EXPECT_EQ(logRecords(app), 1);
    EXPECT_TRUE(app.dir.read(QStringLiteral("TSY2.ini")).contains("Main_X="));
    EXPECT_TRUE(app.dialogs.calls.empty());
}


TEST(SendRunDuringARun, ARecipientAddedMidRunCannotStartASecondRun) {
    SmtpScriptedServer server;
    server.greet().mail().mail().quit();
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 2);
    bool added = false;
    bool sendEnabledAfterAdding = true;
    app.main().smtpClient().OnSuccess = [&](QObject*) {
        if (added)
            return;
        added = true;
        app.typeRecipient(QStringLiteral("late@example.jp"));
        sendEnabledAfterAdding = app.tool("TB_Send")->isEnabled();
        app.main().TB_SendClick(); // as a click that got through would
    };
    app.tool("TB_Send")->click();
    EXPECT_TRUE(added);
    EXPECT_FALSE(sendEnabledAfterAdding);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played()); // two messages over one connection, nothing else
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(app.recipients()->count(), 3);
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    expectButtons(app, {true, false, true});
    EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
}

// The status bar is drawn while a slow message is on its way, not only between messages.
TEST(SendRunDuringARun, StatusShowsTheRecipientBeingSent) {
    SmtpScriptedServer server;
    server.greet().mail();
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    server.expect("RCPT TO:<*").send("250 ok\r\n");
    server.expect("DATA").send("354 go\r\n").expectData().pause(300).send("250 ok\r\n");
    server.quit();
    App app(loggedRunSettings(QStringLiteral("127.0.0.1"), server.port()));
    prepareMail(app, 2);

    struct PaintWatch : QObject {
        QStringList painted;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                painted << static_cast<QLabel*>(watched)->text();
            return false;
        }
    } watch;
    auto* panel = app.main().findChild<QLabel*>(QStringLiteral("StatusBar1_Panel1"));
    ASSERT_TRUE(panel);
    panel->installEventFilter(&watch);
    QStringList paintedWhenSent;
    app.main().smtpClient().OnSuccess = [&](QObject*) {
        paintedWhenSent << (watch.painted.isEmpty() ? QString() : watch.painted.last());
    };
    app.tool("TB_Send")->click();
    panel->removeEventFilter(&watch);
    EXPECT_TRUE(server.played());
    ASSERT_EQ(paintedWhenSent.size(), 2);
    EXPECT_EQ(paintedWhenSent[1], QStringLiteral("2件目を送信中(r2)"));
}

} // namespace
