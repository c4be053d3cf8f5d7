// Send runs through the main window with an OAuth 2.0 login, against the fake authorization
// server and its SMTP server: the sign-in in the browser on the first run, the runs after it
// without, a revoked sign-in told and done again, and no token or client secret anywhere
// Tessaly writes, prints or shows.
#include "app_harness.h"

#include "fixtures/captured_output.h"
#include "fixtures/oauth_servers.h"
#include "settings/settings.h"
#include "settings/settings_window.h"
#include "smtp/smtp_client.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTimer>

namespace {

using apptest::App;
using tessaly::test::CapturedOutput;
using tessaly::test::OAuthServers;

const QByteArray kClientSecret = "org-secret-4f1c9a";

// The Settei keys and an OAuth login at the fake authorization server.
TestIni withOAuth(IniValues settei, const OAuthServers& servers) {
    TestIni ini(std::move(settei));
    ini.submission(QStringLiteral("Security"), QStringLiteral("0"))
        .submission(QStringLiteral("Auth"), QStringLiteral("2"))
        .submission(QStringLiteral("Login"), QStringLiteral("taro@example.jp"))
        .submission(QStringLiteral("OAuthProvider"), QStringLiteral("2"))
        .submission(QStringLiteral("OAuthClientId"), QString::fromStdString(OAuthServers::clientId()))
        .submission(QStringLiteral("OAuthAuthorizationUrl"), QString::fromStdString(servers.url("/authorize")))
        .submission(QStringLiteral("OAuthTokenUrl"), QString::fromStdString(servers.url("/token")))
        .submission(QStringLiteral("OAuthScope"), QStringLiteral("https://mail.test/smtp offline_access"));
    return ini;
}

QStringList stored(OAuthServers& servers) {
    QStringList out;
    for (const QJsonValue& m : servers.state()["messages"].toArray())
        for (const QJsonValue& r : m["rcpt_tos"].toArray())
            out << r.toString();
    return out;
}

TEST(OAuthSend, SignInOnceRevokedSignInToldAndNoTokenWrittenPrintedOrShown) {
    OAuthServers servers(QString::fromLatin1(kClientSecret));
    ASSERT_NE(servers.smtpPort(), 0);
    CapturedOutput output;
    QStringList shown;
    QByteArray files;
    {
        App app(withOAuth({{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
                 {QStringLiteral("Port"), QString::number(servers.smtpPort())},
                 {QStringLiteral("User"), QStringLiteral("pc01")},
                 {QStringLiteral("From"), QStringLiteral("circular@example.jp")},
                 {QStringLiteral("ChkBox_Log"), QStringLiteral("1")},
                 {QStringLiteral("ChkBox_SendData"), QStringLiteral("1")}},
                          servers));
        app.program->settings().ChkBox_EverySend = false;
        app.keyring.secrets[tessaly::oauthClientSecretKey(app.program->settings())] =
            kClientSecret.toStdString();
        app.main().setOpenUrl(servers.browser());
        app.main().smtpClient().ReportLevel = 0xff;
        app.edit("Edt_Subject")->setText(QStringLiteral("サインインのお知らせ"));
        app.setBody(QStringLiteral("本文です。"));
        int next = 0;
        const auto run = [&](int recipients) {
            for (int i = 0; i < recipients; ++i)
                app.typeRecipient(QStringLiteral("r%1@example.jp").arg(++next));
            app.tool("TB_Send")->click();
            shown << app.main().statusText();
            EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
        };
        run(2);
        EXPECT_EQ(servers.pagesOpened(), 1);
        const std::string key =
            tessaly::oauthRefreshTokenKey(app.program->settings(), "taro@example.jp");
        EXPECT_EQ(QString::fromStdString(app.keyring.secrets[key]),
                  servers.state()["issued_refresh"].toArray().last().toString());
        run(1);
        EXPECT_EQ(servers.pagesOpened(), 1) << "the second run needs no browser";

        servers.admin(QStringLiteral("/admin/revoke"));
        run(1);
        EXPECT_EQ(servers.pagesOpened(), 2);
        EXPECT_EQ(app.dialogs.texts(), QStringList{"保存されていたサインインが使えなくなりました（"
                                                   "サーバーの応答: invalid_grant: refresh token "
                                                   "revoked or "
                                                   "unknown）。取り消されたか期限が切れています。ブ"
                                                   "ラウザでもう一度サインインしてください。"});
        app.program->settingsWindow().Cmd_SetteiHozonClick();
        app.main().close();
        for (const FakeDialogs::Call& call : app.dialogs.calls)
            shown << call.title << call.text;
        files = tessaly::test::filesUnder(app.dir.path());
        EXPECT_TRUE(app.dir.read(QStringLiteral("TSY2.ini")).contains("Auth=2\r\n"));
        EXPECT_EQ(app.dir.read(QStringLiteral("Log.txt")).count('\n'), 9);
    }
    const QByteArray printed = output.take();
    // The recipient list stays from run to run: 2, then 3, then 4 recipients, each once a run.
    EXPECT_EQ(stored(servers), (QStringList{"r1@example.jp", "r2@example.jp", "r1@example.jp",
                                            "r2@example.jp", "r3@example.jp", "r1@example.jp",
                                            "r2@example.jp", "r3@example.jp", "r4@example.jp"}));

    const QJsonObject state = servers.state();
    QList<QByteArray> secrets{kClientSecret};
    for (const char* kind : {"issued_access", "issued_refresh"})
        for (const QJsonValue& token : state[QLatin1String(kind)].toArray())
            secrets << token.toString().toLatin1();
    EXPECT_EQ(secrets.size(),
              5); // the secret, two sign-ins with an access and a refresh token each
    const QByteArray texts = shown.join(QLatin1Char('\n')).toUtf8();
    tessaly::test::expectNowhere(secrets, files, printed, texts);
}

TEST(OAuthSend, TheStopButtonEndsASignInThatWaitsForTheBrowser) {
    OAuthServers servers;
    ASSERT_NE(servers.smtpPort(), 0);
    App app(withOAuth({{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("Port"), QString::number(servers.smtpPort())},
             {QStringLiteral("From"), QStringLiteral("circular@example.jp")}},
                      servers));
    app.program->settings().ChkBox_EverySend = false;
    auto ignore = servers.browser(OAuthServers::Redirect::Ignore);
    app.main().setOpenUrl([&](const QUrl& url) {
        ignore(url); // the user never finishes the sign-in ...
        QTimer::singleShot(50, &app.main(), [&] { app.tool("TB_Stop")->click(); }); // ... but stops
    });
    app.edit("Edt_Subject")->setText(QStringLiteral("中止のお知らせ"));
    app.setBody(QStringLiteral("本文です。"));
    app.typeRecipient(QStringLiteral("r1@example.jp"));
    QElapsedTimer took;
    took.start();
    app.tool("TB_Send")->click();
    EXPECT_LT(took.elapsed(), 20000);
    EXPECT_EQ(app.main().statusText(), QStringLiteral("サインインを中止しました"));
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    EXPECT_TRUE(app.dialogs.calls.empty());
    EXPECT_TRUE(servers.state()["token_requests"].toArray().isEmpty());
    EXPECT_TRUE(servers.state()["auth"].toArray().isEmpty()) << "nothing connected";
}

} // namespace
