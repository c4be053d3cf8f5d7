// Send runs with the Submission settings against scripted servers on loopback (where a login may
// go in plain text): the password from the keyring, memory or a prompt, a refused login, the stop
// button during the login.
#include "app_harness.h"

#include "fixtures/smtp_scripted_server.h"
#include "smtp/smtp_client.h"

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

namespace {

using apptest::App;
using apptest::IniValues;
using apptest::logRecords;
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
            "「認証」の段階で送信が止まりました（0件送信済み）。「送信サーバーの詳細」のユーザー名とパスワードを確かめてから、もう一度送信してください。\r\n"
            "認証: サーバーがログインを断りました。ログイン名とパスワードを確かめてください。\n"
            "535-5.7.8 Username and Password not accepted.\r\n535 5.7.8 Learn more\r\n"
            "\r\n次に送信するときに、パスワードをもう一度お尋ねします。")});
    EXPECT_EQ(app.main().statusText(), QStringLiteral("認証エラー（0件送信済みで中断）。原因を直して"
                                                       "「メール送信開始」を押すと、続きを送ります"));
    EXPECT_EQ(logRecords(app), 0);

    app.dialogs.clear();
    app.dialogs.queuePassword(QStringLiteral("new"));
    // The refused login leaves send on and stop off: the words above work as they stand.
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    EXPECT_FALSE(app.tool("TB_Stop")->isEnabled());
    app.typeRecipient(QStringLiteral("r2@example.jp"));
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

} // namespace
