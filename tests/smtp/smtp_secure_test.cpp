// The extended greeting and the login against scripted servers: what goes on the wire, what the
// user reads when a step is refused, that the password shows nowhere, and that a stuck
// handshake, greeting or login ends at once on Abort and on the time-out.
#include "smtp_test_support.h"

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

using namespace tessaly;
using namespace tessaly::test;

namespace {

const char* const kLogin = "tessaly";
const char* const kPassword = "s3cret-PW";

QByteArray base64(const QByteArray& bytes) { return bytes.toBase64(); }
const QByteArray kPlainResponse = base64(QByteArray("\0tessaly\0s3cret-PW", 18));

struct LoginCase {
    const char* name;
    std::function<void(SmtpScriptedServer&)> afterGreeting;
    std::string errorPart; // "" = logged in, one message sent
    bool authError;        // the error is an AuthError
};

class LoginTable : public SmtpClientTest, public ::testing::WithParamInterface<LoginCase> {};

// A server on loopback may take a login in plain text; the scripted server is on loopback.
TEST_P(LoginTable, LogsInOrSaysWhichStepFailed) {
    const LoginCase& c = GetParam();
    server.send("220 hi\r\n");
    c.afterGreeting(server);
    client.UseAuth = true;
    client.LoginName = kLogin;
    client.Password = kPassword;
    client.ReportLevel = 100; // every status report
    std::string statuses;
    client.OnStatus = [&](QObject*, const std::string& s) { statuses += s; };

    std::string error;
    bool authError = false;
    try {
        client.Connect();
        client.SendMail();
        client.Disconnect();
    } catch (const AuthError& e) {
        error = e.what();
        authError = true;
    } catch (const Error& e) {
        error = e.what();
    }
    if (c.errorPart.empty()) {
        EXPECT_EQ(error, "");
    } else {
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    }
    EXPECT_EQ(authError, c.authError);
    EXPECT_TRUE(client.Password.empty());
    EXPECT_FALSE(client.Connected());
    for (const std::string& secret : {std::string(kPassword), kPlainResponse.toStdString(),
                                      base64(kPassword).toStdString()}) {
        EXPECT_EQ(error.find(secret), std::string::npos);
        EXPECT_EQ(statuses.find(secret), std::string::npos);
    }
    EXPECT_EQ(server.lines().contains("MAIL FROM:<sender@example.jp>"), c.errorPart.empty());
    EXPECT_EQ(server.lines().contains("*"), std::string(c.name) == "EndlessChallengesCancelled");
    EXPECT_TRUE(server.played());
}

void ehlo(SmtpScriptedServer& s, const QByteArray& extensions) {
    s.expect("EHLO pc01").send("250-scripted\r\n" + extensions + "250 HELP\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, LoginTable,
    ::testing::Values(
        LoginCase{"PlainWhenOffered",
                  [](SmtpScriptedServer& s) {
                      ehlo(s, "250-AUTH LOGIN PLAIN\r\n");
                      s.expect("AUTH PLAIN " + kPlainResponse).send("235 ok\r\n").extendedMail().quit();
                  },
                  "", false},
        LoginCase{"LoginOtherwise",
                  [](SmtpScriptedServer& s) {
                      ehlo(s, "250-auth login cram-md5\r\n");
                      s.expect("AUTH LOGIN").send("334 VXNlcm5hbWU6\r\n").expect(base64(kLogin));
                      s.send("334 UGFzc3dvcmQ6\r\n").expect(base64(kPassword)).send("235 ok\r\n").extendedMail().quit();
                  },
                  "", false},
        LoginCase{"RefusedWithSeveralLines",
                  [](SmtpScriptedServer& s) {
                      ehlo(s, "250-AUTH PLAIN\r\n");
                      s.expect("AUTH PLAIN *").send("535-5.7.8 bad\r\n535 credentials\r\n").quit();
                  },
                  "認証: サーバーがログインを断りました。ログイン名とパスワードを確かめてください。\n"
                  "535-5.7.8 bad\r\n535 credentials\r\n",
                  true},
        LoginCase{"EndlessChallengesCancelled",
                  [](SmtpScriptedServer& s) {
                      ehlo(s, "250-AUTH LOGIN\r\n");
                      s.expect("AUTH LOGIN").send("334 VXNlcm5hbWU6\r\n").expect(base64(kLogin));
                      s.send("334 UGFzc3dvcmQ6\r\n").expect(base64(kPassword)).send("334 VXNlcm5hbWU6\r\n");
                      // The client has nothing more to say: it cancels with "*" (checked below).
                      s.expect("*").send("501 cancelled\r\n").quit();
                  },
                  "501 cancelled", true},
        LoginCase{"NoKnownMechanism",
                  [](SmtpScriptedServer& s) { ehlo(s, "250-AUTH CRAM-MD5\r\n"); s.quit(); },
                  "認証: サーバーが PLAIN と LOGIN のどちらの認証方式にも対応していません。", false},
        LoginCase{"ExtendedGreetingRefused",
                  [](SmtpScriptedServer& s) { s.expect("EHLO pc01").send("502 what\r\n").quit(); },
                  "接続の保護と SMTP 認証には EHLO が必要です。\n502 what\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- waits that must end

struct StuckCase {
    const char* name;
    SmtpSecurity security;
    std::function<void(SmtpScriptedServer&)> script; // ends in a hang
    bool abort;                                      // Abort once the server hangs; else the time-out ends it
    std::string error;
};

class StuckTable : public SmtpClientTest, public ::testing::WithParamInterface<StuckCase> {};

TEST_P(StuckTable, EndsAtOnceOnAbortOrAtTheTimeOut) {
    const StuckCase& c = GetParam();
    c.script(server);
    client.Security = c.security;
    client.UseAuth = true;
    client.LoginName = kLogin;
    client.Password = kPassword;
    client.TimeOut = c.abort ? 60000 : 300;
    // Once the server has what it hangs on (the TLS hello or a command), the client is waiting
    // in that step: a fixed delay could still meet it loading the TLS library.
    QTimer stop;
    QObject::connect(&stop, &QTimer::timeout, &client, [&] {
        if (server.finished() && !server.received().isEmpty()) {
            stop.stop();
            client.Abort();
        }
    });
    if (c.abort)
        stop.start(5);
    QElapsedTimer clock;
    clock.start();
    std::string error;
    try {
        client.Connect();
    } catch (const std::exception& e) {
        error = e.what();
    }
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_FALSE(client.Connected());
    EXPECT_FALSE(client.Busy());
    EXPECT_FALSE(client.Connecting());
    EXPECT_TRUE(client.Password.empty());
    EXPECT_TRUE(server.played());
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, StuckTable,
    ::testing::Values(
        StuckCase{"HandshakeAborted", SmtpSecurity::ImplicitTls, [](SmtpScriptedServer& s) { s.hang(); }, true,
                  "TLS handshake aborted"},
        StuckCase{"HandshakeTimedOut", SmtpSecurity::ImplicitTls, [](SmtpScriptedServer& s) { s.hang(); }, false,
                  "TLS: 時間内にサーバーから応答がないため、TLS を開始できませんでした。"},
        StuckCase{"GreetingAborted", SmtpSecurity::None,
                  [](SmtpScriptedServer& s) { s.send("220 hi\r\n").expect("EHLO pc01").hang(); }, true,
                  "Socket readln aborted"},
        StuckCase{"LoginAborted", SmtpSecurity::None,
                  [](SmtpScriptedServer& s) {
                      s.send("220 hi\r\n");
                      ehlo(s, "250-AUTH PLAIN\r\n");
                      s.expect("AUTH PLAIN *").hang();
                  },
                  true, "Socket readln aborted"},
        StuckCase{"LoginTimedOut", SmtpSecurity::None,
                  [](SmtpScriptedServer& s) {
                      s.send("220 hi\r\n");
                      ehlo(s, "250-AUTH PLAIN\r\n");
                      s.expect("AUTH PLAIN *").hang();
                  },
                  false, TSocketBase::ReplyTimedOutText}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
