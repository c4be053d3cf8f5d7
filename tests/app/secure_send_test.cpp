// Send runs with the Submission settings against scripted servers on loopback (where a login may
// go in plain text): the password from the keyring, memory or a prompt, a refused login, the stop
// button during the login; and multi-line replies, after which the send log holds exactly the
// messages the server accepted.
#include "app_harness.h"

#include "fixtures/smtp_scripted_server.h"
#include "smtp/smtp_client.h"

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

namespace {

using apptest::App;
using apptest::IniValues;
using tessaly::test::SmtpScriptedServer;
using Kind = FakeDialogs::Kind;

IniValues settingsFor(quint16 port) {
    return {{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("Port"), QString::number(port)},
            {QStringLiteral("User"), QStringLiteral("pc01")},
            {QStringLiteral("From"), QStringLiteral("me@tessaly.test")},
            {QStringLiteral("ChkBox_Log"), QStringLiteral("1")}};
}

// The settings with a password login as taro, and `more` of the Submission section.
TestIni withLogin(quint16 port, const IniValues& more = {}) {
    TestIni ini(settingsFor(port));
    ini.submission(QStringLiteral("Auth"), QStringLiteral("1")).submission(QStringLiteral("Login"), QStringLiteral("taro"));
    for (const auto& [key, value] : more)
        ini.submission(key, value);
    return ini;
}

std::string keyFor(quint16 port) {
    return "smtp:127.0.0.1:" + std::to_string(port) + ":taro";
}

QByteArray plainResponse(const QByteArray& password) {
    return (QByteArray("\0taro\0", 6) + password).toBase64();
}

// EHLO with AUTH PLAIN, then the login answered by `reply`.
void login(SmtpScriptedServer& s, const QByteArray& password, const QByteArray& reply) {
    s.send("220 ready\r\n")
        .expect("EHLO pc01")
        .send("250-scripted\r\n250-AUTH PLAIN LOGIN\r\n250 HELP\r\n");
    s.expect("AUTH PLAIN " + plainResponse(password)).send(reply);
}

int logRecords(App& app) {
    return int(app.dir.read(QStringLiteral("Log.txt")).count('\n'));
}

const QString kDone = QStringLiteral("メッセージ送信完了！");

// A stored password the server refuses: the next send asks, and the password that works replaces
// the stored one; the run after that asks nobody.
TEST(SecureSend, RefusedStoredPasswordIsAskedForAgainAndReplaced) {
    SmtpScriptedServer server;
    login(server, "old",
          "535-5.7.8 Username and Password not accepted.\r\n535 5.7.8 Learn more\r\n");
    server.quit().accept();
    login(server, "new", "235 ok\r\n");
    server.extendedMail().extendedMail().quit().accept();
    login(server, "new", "235 ok\r\n");
    server.extendedMail().extendedMail().quit();

    App app(withLogin(server.port()));
    app.keyring.secrets[keyFor(server.port())] = "old";
    prepareMail(app, 1);
    app.tool("TB_Send")->click();
    EXPECT_EQ(
        app.dialogs.texts(),
        QStringList{QStringLiteral(
            "認証: サーバーがログインを断りました。ログイン名とパスワードを確かめてください。\n"
            "535-5.7.8 Username and Password not accepted.\r\n535 5.7.8 Learn more\r\n"
            "\r\n次に送信するときに、パスワードをもう一度お尋ねします。")});
    EXPECT_EQ(app.main().statusText(), QStringLiteral("認証エラー（0件送信済みで中断）"));
    EXPECT_EQ(logRecords(app), 0);

    app.dialogs.clear();
    app.dialogs.queuePassword(QStringLiteral("new"));
    app.typeRecipient(QStringLiteral("r2@example.jp")); // a refused run leaves TB_Send off
    app.tool("TB_Send")->click();
    EXPECT_EQ(
        app.dialogs.texts(),
        QStringList{QStringLiteral(
                        "送信サーバー 127.0.0.1:%1 にログインするパスワードを入力してください。\r\n"
                        "ログイン名：taro")
                        .arg(server.port())});
    EXPECT_EQ(app.dialogs.last(Kind::Password).title, QStringLiteral("SMTP 認証"));
    EXPECT_EQ(app.main().statusText(), kDone);
    EXPECT_EQ(app.keyring.secrets[keyFor(server.port())], "new");

    app.dialogs.clear();
    app.keyring.calls.clear();
    app.tool("TB_Send")->click();
    EXPECT_TRUE(app.dialogs.calls.empty());
    EXPECT_TRUE(app.keyring.calls.empty()) << "known from this program start";
    EXPECT_EQ(app.main().statusText(), kDone);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played());
}

// Without a keyring, or with "パスワードを保存" off, the password is asked for once per program
// start and never written anywhere.
TEST(SecureSend, PasswordIsAskedForOncePerProgramStartWhenNotSaved) {
    struct Case {
        const char* name;
        bool keyringAvailable;
        IniValues submission;
    };
    const Case cases[] = {
        {"no keyring", false, {}},
        {"saving off", true, {{QStringLiteral("SavePassword"), QStringLiteral("0")}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpScriptedServer server;
        login(server, "pw", "235 ok\r\n");
        server.extendedMail().quit().accept();
        login(server, "pw", "235 ok\r\n");
        server.extendedMail().quit();
        App app(withLogin(server.port(), c.submission));
        app.keyring.available = c.keyringAvailable;
        prepareMail(app, 1);
        app.dialogs.queuePassword(QStringLiteral("pw"));
        app.tool("TB_Send")->click();
        app.tool("TB_Send")->click();
        EXPECT_EQ(app.dialogs.count(Kind::Password), 1);
        EXPECT_EQ(app.main().statusText(), kDone);
        if (c.keyringAvailable) {
            EXPECT_EQ(app.keyring.count(FakeSecretStore::Op::Write), 0);
        }
        EXPECT_TRUE(app.keyring.secrets.empty());
        EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
        EXPECT_TRUE(server.played());
    }
}

TEST(SecureSend, CancelledPasswordPromptConnectsNowhere) {
    SmtpScriptedServer server;
    App app(withLogin(server.port()));
    app.keyring.available = false;
    prepareMail(app, 1);
    app.dialogs.queuePassword(std::nullopt);
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.main().statusText(),
              QStringLiteral("パスワードが入力されなかったため、送信を中止しました"));
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    EXPECT_FALSE(app.tool("TB_Stop")->isEnabled());
    EXPECT_TRUE(app.tool("TB_Clear")->isEnabled());
}

// A login, or a TLS handshake, the server never answers: the stop button ends it at once,
// nothing was sent, and the window is ready for the next run.
TEST(SecureSend, StopEndsAStuckLoginOrHandshakeAtOnce) {
    struct Case {
        const char* name;
        IniValues submission;
        std::function<void(SmtpScriptedServer&)> script;
    };
    const Case cases[] = {
        {"login", {},
         [](SmtpScriptedServer& s) {
             s.send("220 ready\r\n").expect("EHLO pc01").send("250-scripted\r\n250 AUTH PLAIN\r\n");
             s.expect("AUTH PLAIN *").hang();
         }},
        {"handshake", {{QStringLiteral("Security"), QStringLiteral("2")}},
         [](SmtpScriptedServer& s) { s.hang(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpScriptedServer server;
        c.script(server);
        App app(withLogin(server.port(), c.submission));
        app.keyring.secrets[keyFor(server.port())] = "pw";
        prepareMail(app, 1);
        QTimer::singleShot(200, app.tool("TB_Stop"), [&] { app.tool("TB_Stop")->click(); });
        QElapsedTimer clock;
        clock.start();
        app.tool("TB_Send")->click();
        EXPECT_LT(clock.elapsed(), 10000); // the time-out is 30 s
        EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
        EXPECT_EQ(app.main().statusText(), QStringLiteral("接続を中止しました"));
        EXPECT_FALSE(server.received().contains("MAIL FROM"));
        EXPECT_FALSE(app.main().smtpClient().Connected());
        EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
        EXPECT_FALSE(app.tool("TB_Stop")->isEnabled());
    }
}

// Every reply may come in several lines. Message 1 of 3 is accepted with multi-line replies at
// every step, message 2 refused with a multi-line reply at one step: the run stops there, and
// the send log holds message 1 alone.
struct MultiLine {
    const char* name;
    std::function<void(SmtpScriptedServer&)> secondMessage; // empty: accepted like the first
    int records;
};

void PrintTo(const MultiLine& c, std::ostream* os) {
    *os << c.name;
}

class MultiLineReplies : public ::testing::TestWithParam<MultiLine> {};

void acceptedInSeveralLines(SmtpScriptedServer& s) {
    s.expect("RSET").send("250-flushed\r\n250 ok\r\n");
    s.expect("MAIL FROM:<*").send("250-2.1.0 sender\r\n250 2.1.0 ok\r\n");
    s.expect("RCPT TO:<*").send("250-2.1.5 recipient\r\n250 2.1.5 ok\r\n");
    s.expect("DATA").send("354-go ahead\r\n354 end with .\r\n").expectData();
    s.send("250-2.0.0 queued\r\n250-as 1234\r\n250 2.0.0 ok\r\n");
}

TEST_P(MultiLineReplies, SendLogHoldsOnlyAcceptedMessages) {
    const MultiLine& c = GetParam();
    SmtpScriptedServer server;
    server.greet();
    acceptedInSeveralLines(server);
    if (c.secondMessage) {
        c.secondMessage(server);
    } else {
        acceptedInSeveralLines(server);
        acceptedInSeveralLines(server);
        server.quit();
    }
    App app(settingsFor(server.port()));
    prepareMail(app, 3);
    app.tool("TB_Send")->click();
    EXPECT_EQ(logRecords(app), c.records);
    if (c.secondMessage) {
        EXPECT_FALSE(app.dialogs.texts(Kind::Error).isEmpty());
        EXPECT_FALSE(server.received().contains("RCPT TO:<r3@example.jp>"));
    } else {
        EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
        EXPECT_EQ(app.main().statusText(), kDone);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played());
}

const QByteArray kRefusal =
    "554-5.7.1 Message rejected\r\n554-see the policy\r\n554 5.7.1 at example.jp\r\n";

INSTANTIATE_TEST_SUITE_P(
    Steps, MultiLineReplies,
    ::testing::Values(
        MultiLine{"AllAccepted", {}, 3},
        MultiLine{"MailRefused",
                  [](SmtpScriptedServer& s) {
                      s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send(kRefusal);
                  },
                  1},
        MultiLine{"RcptRefused",
                  [](SmtpScriptedServer& s) {
                      s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                      s.expect("RCPT TO:<*").send(kRefusal).expect("DATA").send(kRefusal);
                  },
                  1},
        MultiLine{"DataRefused",
                  [](SmtpScriptedServer& s) {
                      s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                      s.expect("RCPT TO:<*").send("250 ok\r\n").expect("DATA").send(kRefusal);
                  },
                  1},
        MultiLine{"EndOfDataRefused",
                  [](SmtpScriptedServer& s) {
                      s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                      s.expect("RCPT TO:<*").send("250 ok\r\n");
                      s.expect("DATA").send("354 go\r\n").expectData().send(kRefusal);
                  },
                  1}),
    [](const ::testing::TestParamInfo<MultiLine>& info) { return std::string(info.param.name); });

} // namespace
