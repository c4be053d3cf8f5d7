// Send runs through the main window with protection and login, against the submission server
// fixture (aiosmtpd with STARTTLS, TLS and AUTH; certificates made when it starts): delivery,
// trusting a certificate once, a changed certificate refused, and the password found nowhere
// Tessaly writes or prints, whatever the run's end.
#include "app_harness.h"

#include "fixtures/captured_output.h"
#include "fixtures/smtp_real_server.h"
#include "settings/settings_window.h"
#include "smtp/smtp_client.h"

#include <cstdio>

namespace {

using apptest::App;
using apptest::IniValues;
using apptest::logRecords;
using tessaly::test::CapturedOutput;
using tessaly::test::SubmissionServer;
using Kind = FakeDialogs::Kind;

// A name of this test alone: the server is shared with tests running at the same time.
QString uniqueName(const char* what) {
    return QStringLiteral("app-%1-%2-%3")
        .arg(QCoreApplication::applicationPid())
        .arg(QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()),
             QString::fromLatin1(what));
}

struct Secure {
    QString helo = uniqueName("helo");
    QString sender = uniqueName("from") + QStringLiteral("@tessaly.test");

    IniValues settings(quint16 port) const {
        return {
            {QStringLiteral("Host"), QStringLiteral("localhost")}, // the name in the certificates
            {QStringLiteral("Port"), QString::number(port)},
            {QStringLiteral("User"), helo},
            {QStringLiteral("From"), sender},
            {QStringLiteral("ChkBox_Log"), QStringLiteral("1")},
            {QStringLiteral("ChkBox_SendData"), QStringLiteral("1")}};
    }
    // The settings with protection `security` and the server's login.
    TestIni ini(quint16 port, int security) const {
        return TestIni(settings(port))
            .submission(QStringLiteral("Security"), QString::number(security))
            .submission(QStringLiteral("Auth"), QStringLiteral("1"))
            .submission(QStringLiteral("Login"), QString::fromLatin1(SubmissionServer::Login));
    }
    // Every line the server received from this test's connections.
    QList<QByteArray> lines(bool plainOnly = false) const {
        QList<QByteArray> out;
        for (const auto& l : SubmissionServer::linesGreetedAs(helo))
            if (!plainOnly || !l.tls)
                out.append(l.line.trimmed());
        return out;
    }
};

std::string keyFor(quint16 port) {
    return "smtp:localhost:" + std::to_string(port) + ":" + SubmissionServer::Login;
}

void prepareNotice(App& app, int recipients) {
    for (int i = 0; i < recipients; ++i)
        app.typeRecipient(QStringLiteral("r%1@example.jp").arg(i + 1));
    app.edit("Edt_Subject")->setText(QStringLiteral("暗号化のお知らせ"));
    app.setBody(QStringLiteral("本文です。"));
}

class SecureSendReal : public ::testing::Test {
protected:
    void SetUp() override {
        tessaly::TSocketBase::SetExtraCaCertificates(SubmissionServer::caPem());
    }
    void TearDown() override { tessaly::TSocketBase::SetExtraCaCertificates({}); }
    Secure secure;
};

TEST_F(SecureSendReal, ProtectedLoginDeliversEveryMessage) {
    struct Case {
        const char* listener;
        int security;
        QList<QByteArray> plain; // what went in plain text
    };
    const QByteArray ehlo = "EHLO " + secure.helo.toLatin1();
    const Case cases[] = {{"starttls", 1, {ehlo, "STARTTLS"}}, {"implicit", 2, {}}};
    int delivered = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.listener);
        const quint16 port = SubmissionServer::port(c.listener);
        App app(secure.ini(port, c.security));
        app.keyring.secrets[keyFor(port)] = SubmissionServer::Password;
        prepareNotice(app, 3);
        app.tool("TB_Send")->click();
        EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
        EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
        EXPECT_EQ(logRecords(app), 3);
        delivered += 3;
        const auto stored = SubmissionServer::messagesFrom(secure.sender);
        ASSERT_EQ(int(stored.size()), delivered);
        for (const auto& m : stored) {
            EXPECT_TRUE(m.tls);
            EXPECT_EQ(m.login, QLatin1String(SubmissionServer::Login));
        }
    }
    const QByteArray ehlo2 = "EHLO " + secure.helo.toLatin1();
    EXPECT_EQ(secure.lines(true), (QList<QByteArray>{ehlo2, "STARTTLS"}));
}

// A certificate no authority vouches for: trusted once for this host and port (and saved), then
// taken without a question; a different certificate there is refused with both fingerprints.
TEST_F(SecureSendReal, CertificateTrustedOnceThenHeldToIt) {
    const quint16 port = SubmissionServer::port("untrusted");
    App app(secure.ini(port, 1));
    app.keyring.secrets[keyFor(port)] = SubmissionServer::Password;
    prepareNotice(app, 1);

    app.dialogs.queueAnswer(false);
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.main().statusText(),
              QStringLiteral("証明書を信頼しなかったため、送信を中止しました"));
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    const FakeDialogs::Call question = app.dialogs.last(Kind::Question);
    EXPECT_EQ(question.title, QStringLiteral("証明書の確認"));
    EXPECT_TRUE(question.defaultNo) << "Enter alone must not trust a certificate";
    EXPECT_TRUE(question.text.startsWith(QStringLiteral(
        "TLS: サーバーの証明書を確認できないため、接続を中止しました（発行者を確認できない）。\n"
        "証明書の SHA-256 指紋: ")))
        << question.text.toStdString();
    EXPECT_TRUE(question.text.endsWith(
        QStringLiteral(
            "\r\n\r\nこの証明書を localhost:%1 の証明書として信頼して、接続しますか？\r\n"
            "信頼するのはこの指紋の証明書だけです。確かでないときは「いいえ」を選んでください。")
            .arg(port)));
    EXPECT_FALSE(app.dir.read(QStringLiteral("TSY2.ini")).contains("TrustedCerts=localhost"));
    EXPECT_TRUE(SubmissionServer::messagesFrom(secure.sender).empty());

    app.dialogs.clear();
    app.dialogs.queueAnswer(true);
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.dialogs.count(Kind::Question), 1);
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    const std::string fingerprint =
        tessaly::trustedFingerprint(app.program->settings(), "localhost", port);
    ASSERT_EQ(fingerprint.size(), 64u);
    EXPECT_TRUE(app.dir.read(QStringLiteral("TSY2.ini"))
                    .contains(QByteArray("TrustedCerts=localhost:") + QByteArray::number(port) +
                              "=" + fingerprint.c_str() + "\r\n"))
        << "saved at once";
    EXPECT_EQ(SubmissionServer::messagesFrom(secure.sender).size(), 1u);

    app.dialogs.clear();
    app.tool("TB_Send")->click();
    EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
    EXPECT_EQ(SubmissionServer::messagesFrom(secure.sender).size(), 2u);

    // The certificate there is not the one trusted any more.
    const std::string other(64, 'a');
    tessaly::setTrustedFingerprint(app.program->settings(), "localhost", port, other);
    app.dialogs.clear();
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.dialogs.count(Kind::Question), 0);
    const QString error = app.dialogs.texts(Kind::Error).value(0);
    EXPECT_TRUE(error.contains(QStringLiteral("信頼済みの証明書と違う")));
    EXPECT_TRUE(error.contains(QString::fromStdString(fingerprint)));
    EXPECT_TRUE(error.contains(QString::fromStdString(other)));
    EXPECT_TRUE(error.endsWith(QStringLiteral(
        "\r\n証明書が正しく更新されたものかどうか、サーバーの管理者に確かめてください。"
        "確かめられたら、設定画面の「送信サーバーの詳細」で信頼した証明書を消去してから、"
        "もう一度送信してください。")));
    EXPECT_EQ(SubmissionServer::messagesFrom(secure.sender).size(), 2u);
    EXPECT_EQ(tessaly::trustedFingerprint(app.program->settings(), "localhost", port), other);
}

// A server that replaced the certificate the user trusted by one an authority vouches for is
// taken at once, as mail programs do: the trusted one only stands in where no authority does.
TEST_F(SecureSendReal, ValidCertificateTakesThePlaceOfATrustedOne) {
    const quint16 port = SubmissionServer::port("starttls");
    App app(secure.ini(port, 1));
    app.keyring.secrets[keyFor(port)] = SubmissionServer::Password;
    tessaly::setTrustedFingerprint(app.program->settings(), "localhost", port, std::string(64, 'b'));
    prepareNotice(app, 1);
    app.tool("TB_Send")->click();
    EXPECT_TRUE(app.dialogs.calls.empty()) << app.dialogs.lastText().toStdString();
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    EXPECT_EQ(SubmissionServer::messagesFrom(secure.sender).size(), 1u);
}

// The password, a wrong one, and the forms they take on the wire, searched for in every file in
// the start directory, in everything printed and in every text shown, after a successful run
// and after a refused login, a refused certificate and a server without STARTTLS.
TEST_F(SecureSendReal, PasswordIsNeverWrittenPrintedOrShown) {
    const QByteArray right = SubmissionServer::Password;
    const QByteArray wrong = "Wr0ng-Secret-Pa55-91d2";
    const quint16 starttls = SubmissionServer::port("starttls");
    QList<QByteArray> secrets;
    for (const QByteArray& p : {right, wrong}) {
        secrets
            << p << p.toBase64()
            << (QByteArray("\0", 1) + SubmissionServer::Login + QByteArray("\0", 1) + p).toBase64();
    }

    CapturedOutput output;
    QStringList shown;
    QByteArray files;
    {
        App app(secure.ini(starttls, 1));
        app.program->settings().ChkBox_EverySend = false;
        app.keyring.secrets[keyFor(starttls)] = wrong.toStdString();
        app.program->mainWindow().smtpClient().ReportLevel = 0xff; // every status report
        prepareNotice(app, 2);
        const auto run = [&](const char* listener) {
            app.program->settingsWindow().Edt_Port->setText(
                QString::number(SubmissionServer::port(listener)));
            app.typeRecipient(QStringLiteral("more@example.jp")); // a failed run leaves TB_Send off
            app.tool("TB_Send")->click();
            shown << app.main().statusText();
        };
        run("starttls"); // the stored password is wrong: refused
        EXPECT_TRUE(app.dialogs.lastText().contains(
            QStringLiteral("認証: サーバーがログインを断りました。")));
        app.dialogs.queuePassword(QString::fromLatin1(right));
        run("starttls"); // asked, accepted
        EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
        app.dialogs.queuePassword(QString::fromLatin1(right));
        app.dialogs.queueAnswer(false);
        run("untrusted");
        EXPECT_EQ(app.main().statusText(),
                  QStringLiteral("証明書を信頼しなかったため、送信を中止しました"));
        app.dialogs.queuePassword(QString::fromLatin1(right));
        run("no_starttls");
        EXPECT_TRUE(app.dialogs.lastText().contains(QStringLiteral("STARTTLS に対応していない")));
        app.program->settingsWindow().Cmd_SetteiHozonClick();
        app.main().close();
        for (const FakeDialogs::Call& call : app.dialogs.calls)
            shown << call.title << call.text;
        files = tessaly::test::filesUnder(app.dir.path());
        // The files searched hold what they should: the settings, the log of the one run that
        // got through (four recipients by then), the text it sent.
        EXPECT_TRUE(app.dir.read(QStringLiteral("TSY2.ini")).contains("Login=tessaly-user\r\n"));
        EXPECT_EQ(logRecords(app), 4);
        EXPECT_FALSE(app.dir.read(QStringLiteral("SendData.txt")).isEmpty());
    }
    const QByteArray printed = output.take();
    const QByteArray texts = shown.join(QLatin1Char('\n')).toUtf8();
    EXPECT_FALSE(texts.isEmpty());
    tessaly::test::expectNowhere(secrets, files, printed, texts);
}

} // namespace
