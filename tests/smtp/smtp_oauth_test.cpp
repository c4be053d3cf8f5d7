// Logging in with OAuth 2.0 tokens (XOAUTH2, OAUTHBEARER) to an SMTP server that accepts only the
// live tokens of the fake authorization server.
#include "fixtures/fake_secret_store.h"
#include "fixtures/oauth_servers.h"
#include "smtp/oauth_signin.h"
#include "smtp/smtp_client.h"

#include <QJsonArray>
#include <gtest/gtest.h>

using namespace tessaly;
using tessaly::test::OAuthServers;

namespace {

const std::string kAccount = "taro@example.jp";
const std::string kKey = "oauth:" + kAccount;

class SmtpOAuth : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(servers.smtpPort(), 0); }

    std::unique_ptr<OAuthSession> session() {
        auto s = std::make_unique<OAuthSession>(
            OAuthRegistration{servers.url("/authorize"), servers.url("/token"),
                           "https://mail.test/smtp", OAuthServers::clientId(), ""},
            store, kKey);
        s->OpenUrl = servers.browser();
        s->SignInTimeOut = 20000;
        return s;
    }

    // A client that logs in with the session's tokens, the token fetched before connecting as a
    // run does.
    void prepare(TSmtpClient& client, OAuthSession& s) {
        client.Host = "127.0.0.1";
        client.Port = servers.smtpPort();
        client.TimeOut = 10000;
        client.UserID = "pc01";
        client.UseAuth = true;
        client.LoginName = kAccount;
        client.OAuthToken = [&s](bool renew) {
            return renew ? s.RenewAccessToken() : s.AccessToken();
        };
        client.PostMessage.FromAddress = "circular@example.jp"; // the user's From, not the account
        client.PostMessage.Subject = "Hello";
        client.PostMessage.Body = {"line"};
        s.AccessToken();
    }

    // Sends one message to each of `recipients` over one connection.
    void run(OAuthSession& s, const std::vector<std::string>& recipients) {
        TSmtpClient client;
        prepare(client, s);
        int connects = 0;
        client.OnConnect = [&](QObject*) { ++connects; };
        client.Connect();
        for (const std::string& to : recipients) {
            client.PostMessage.ToAddress = {to};
            client.SendMail();
        }
        client.Disconnect();
        EXPECT_EQ(connects, 1);
    }

    QStringList grants() {
        QStringList out;
        for (const QJsonValue& v : servers.state()["token_requests"].toArray())
            out << v[QStringLiteral("grant_type")].toString();
        return out;
    }
    // "mechanism user ok|refused [answer to the error challenge]" per AUTH.
    QStringList logins() {
        QStringList out;
        for (const QJsonValue& v : servers.state()["auth"].toArray()) {
            QString line = v["mechanism"].toString() + " " + v["user"].toString() + " " +
                           (v["ok"].toBool() ? "ok" : "refused");
            if (!v["error_answer"].isNull())
                line += " [" + v["error_answer"].toString() + "]";
            out << line;
        }
        return out;
    }
    QStringList recipients() {
        QStringList out;
        for (const QJsonValue& v : servers.state()["messages"].toArray()) {
            EXPECT_EQ(v["mail_from"].toString(), QStringLiteral("circular@example.jp"));
            for (const QJsonValue& r : v["rcpt_tos"].toArray())
                out << r.toString();
        }
        return out;
    }

    OAuthServers servers;
    FakeSecretStore store;
};

std::vector<std::string> addresses(int count) {
    std::vector<std::string> out;
    for (int i = 1; i <= count; ++i)
        out.push_back("member" + std::to_string(i) + "@example.jp");
    return out;
}

QStringList qaddresses(int count) {
    QStringList out;
    for (const std::string& a : addresses(count))
        out << QString::fromStdString(a);
    return out;
}

TEST_F(SmtpOAuth, FirstRunSignsInTheNextRunsOnTheRefreshedTokenWithoutTheBrowser) {
    run(*session(), addresses(3));
    run(*session(), {"member4@example.jp"}); // a new program start: only the keyring is left
    EXPECT_EQ(servers.pagesOpened(), 1);
    EXPECT_EQ(grants(), (QStringList{"authorization_code", "refresh_token"}));
    EXPECT_EQ(logins(), (QStringList{"XOAUTH2 taro@example.jp ok", "XOAUTH2 taro@example.jp ok"}));
    EXPECT_EQ(recipients(), qaddresses(4));
}

TEST_F(SmtpOAuth, ATokenThatExpiresInTheMiddleOfARunIsRenewedAndNobodyGetsTwoCopies) {
    servers.admin(QStringLiteral("/admin/set?expire_after_messages=25"));
    run(*session(), addresses(50));
    EXPECT_EQ(recipients(), qaddresses(50));
    EXPECT_EQ(grants(), (QStringList{"authorization_code", "refresh_token"}));
    EXPECT_EQ(logins(), (QStringList{"XOAUTH2 taro@example.jp ok", "XOAUTH2 taro@example.jp ok"}));
}

TEST_F(SmtpOAuth, AServerThatOffersOnlyOAuthBearerGetsIt) {
    servers.admin(QStringLiteral("/admin/set?mechanisms=OAUTHBEARER"));
    run(*session(), addresses(2));
    EXPECT_EQ(logins(), QStringList{"OAUTHBEARER taro@example.jp ok"});
    EXPECT_EQ(recipients(), qaddresses(2));
}

struct ErrorChallenge {
    const char* mechanisms;
    const char* answer;  // base64 of what the client answered the error challenge with
    const char* refused; // the message when even the fresh token is refused
};

void PrintTo(const ErrorChallenge& c, std::ostream* os) {
    *os << c.mechanisms;
}

class SmtpOAuthRefused : public SmtpOAuth, public ::testing::WithParamInterface<ErrorChallenge> {};

TEST_P(SmtpOAuthRefused, TheErrorChallengeIsAnsweredAndOneFreshTokenTried) {
    const ErrorChallenge& c = GetParam();
    servers.admin(QStringLiteral("/admin/set?mechanisms=") + QString::fromLatin1(c.mechanisms));
    auto s = session();
    TSmtpClient client;
    prepare(client, *s);
    servers.admin(QStringLiteral("/admin/expire")); // revoked on the server's side, early
    std::vector<bool> asked;
    client.OAuthToken = [&](bool renew) {
        asked.push_back(renew);
        return renew ? s->RenewAccessToken() : s->AccessToken();
    };
    client.Connect();
    client.Disconnect();
    EXPECT_EQ(asked, (std::vector<bool>{false, true}));
    const QString name = QString::fromLatin1(c.mechanisms);
    EXPECT_EQ(logins(), (QStringList{name + " taro@example.jp refused [" + c.answer + "]",
                                     name + " taro@example.jp ok"}));

    // A token that is refused again ends the login with the server's own error in the message.
    client.OAuthToken = [](bool) { return std::string("at-never-issued"); };
    try {
        client.Connect();
        ADD_FAILURE() << "logged in";
    } catch (const AuthError& e) {
        EXPECT_EQ(std::string(e.what()), c.refused);
    }
    EXPECT_FALSE(client.Connected());
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, SmtpOAuthRefused,
    ::testing::Values(
        ErrorChallenge{
            "XOAUTH2", "",
            "認証: サーバーがトークンを受け付けませんでした（{\"status\": \"401\", \"schemes\": "
            "\"Bearer\", \"scope\": "
            "\"https://mail.test/smtp\"}）。ログイン名がサインインしたアカウントの"
            "メールアドレスか確かめてください。\n535 5.7.8 Username and Password not accepted\r\n"},
        ErrorChallenge{
            "OAUTHBEARER", "AQ==",
            "認証: サーバーがトークンを受け付けませんでした（{\"status\": \"invalid_token\", "
            "\"scope\": "
            "\"https://mail.test/smtp\"}）。ログイン名がサインインしたアカウントのメールアドレスか"
            "確かめてください。\n535 5.7.8 Username and Password not accepted\r\n"}),
    [](const ::testing::TestParamInfo<ErrorChallenge>& info) {
        return std::string(info.param.mechanisms);
    });

} // namespace
