// Sign-in in the browser and the tokens it gives, against the fake authorization server.
#include "fixtures/fake_secret_store.h"
#include "fixtures/oauth_servers.h"
#include "smtp/oauth_signin.h"

#include <QJsonArray>
#include <QTcpSocket>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace tessaly;
using tessaly::test::OAuthServers;

namespace {

const std::string kTokensKey = "oauth:taro@example.jp";

OAuthRegistration providerOf(const OAuthServers& servers, const std::string& secret = {}) {
    return {servers.url("/authorize"), servers.url("/token"),
            "https://mail.test/smtp offline_access", OAuthServers::clientId(), secret};
}

QStringList strings(const QJsonValue& array) {
    QStringList out;
    for (const QJsonValue& v : array.toArray())
        out << v.toString();
    return out;
}

QStringList grants(const QJsonObject& state) {
    QStringList out;
    for (const QJsonValue& v : state.value(QStringLiteral("token_requests")).toArray())
        out << v[QStringLiteral("grant_type")].toString() +
                   (v[QStringLiteral("ok")].toBool() ? "" : " refused");
    return out;
}

TEST(OAuthSignIn, FirstSignInInTheBrowserThenTheStoredRefreshTokenWithoutIt) {
    OAuthServers servers(QStringLiteral("desktop-secret"));
    ASSERT_NE(servers.httpPort(), 0);
    FakeSecretStore store;
    QUrl page;
    auto follow = servers.browser();

    OAuthSession first(providerOf(servers, "desktop-secret"), store, kTokensKey);
    first.SignInTimeOut = 20000;
    first.OpenUrl = [&](const QUrl& url) {
        page = url;
        follow(url);
    };
    const std::string token = first.AccessToken();

    QJsonObject state = servers.state();
    EXPECT_EQ(grants(state),
              QStringList{"authorization_code"}); // PKCE, redirect address and secret passed
    EXPECT_TRUE(strings(state["live_access"]).contains(QString::fromStdString(token)));
    EXPECT_EQ(QString::fromStdString(store.secrets.at(kTokensKey)),
              strings(state["issued_refresh"]).last());
    // The loopback listener was there for the sign-in only.
    const QUrl redirect(
        QUrlQuery(page).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
    EXPECT_EQ(redirect.host(), QStringLiteral("127.0.0.1"));
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(redirect.port()));
    EXPECT_FALSE(probe.waitForConnected(2000));
    // A token good for an hour is used again as it is.
    EXPECT_EQ(first.AccessToken(), token);
    EXPECT_EQ(servers.state()["token_requests"].toArray().size(), 1);

    // The next program start: the stored refresh token gives a new access token, no browser.
    OAuthSession second(providerOf(servers, "desktop-secret"), store, kTokensKey);
    second.OpenUrl = [](const QUrl&) { ADD_FAILURE() << "the browser opened again"; };
    const std::string next = second.AccessToken();
    state = servers.state();
    EXPECT_EQ(grants(state), (QStringList{"authorization_code", "refresh_token"}));
    EXPECT_NE(next, token);
    EXPECT_TRUE(strings(state["live_access"]).contains(QString::fromStdString(next)));
    // The server replaced the refresh token; the store holds the new one.
    EXPECT_EQ(QString::fromStdString(store.secrets.at(kTokensKey)),
              strings(state["issued_refresh"]).last());
    EXPECT_EQ(servers.pagesOpened(), 1);
}

TEST(OAuthSignIn, ATokenThatExpiresWithinFiveMinutesIsRenewedBeforeUse) {
    OAuthServers servers;
    ASSERT_NE(servers.httpPort(), 0);
    servers.admin(QStringLiteral("/admin/set?access_lifetime=240"));
    FakeSecretStore store;
    OAuthSession session(providerOf(servers), store, kTokensKey);
    session.OpenUrl = servers.browser();
    const std::string token = session.AccessToken();
    const std::string next = session.AccessToken();
    EXPECT_NE(next, token);
    EXPECT_EQ(grants(servers.state()), (QStringList{"authorization_code", "refresh_token"}));
    EXPECT_EQ(servers.pagesOpened(), 1);
}

TEST(OAuthSignIn, ARevokedRefreshTokenLeadsToANewSignInThatSaysWhy) {
    OAuthServers servers;
    ASSERT_NE(servers.httpPort(), 0);
    FakeSecretStore store;
    {
        OAuthSession session(providerOf(servers), store, kTokensKey);
        session.OpenUrl = servers.browser();
        session.AccessToken();
    }
    servers.admin(QStringLiteral("/admin/revoke"));

    OAuthSession session(providerOf(servers), store, kTokensKey);
    std::vector<std::string> told;
    session.OnSignInAgain = [&](const std::string& why) {
        told.push_back(why);
        EXPECT_EQ(servers.pagesOpened(), 1) << "told after the browser opened";
    };
    session.OpenUrl = servers.browser();
    const std::string token = session.AccessToken();

    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(
        told[0],
        "保存されていたサインインが使えなくなりました（サーバーの応答: invalid_grant: refresh "
        "token "
        "revoked or "
        "unknown）。取り消されたか期限が切れています。ブラウザでもう一度サインインしてください。");
    EXPECT_EQ(servers.pagesOpened(), 2);
    const QJsonObject state = servers.state();
    EXPECT_EQ(grants(state),
              (QStringList{"authorization_code", "refresh_token refused", "authorization_code"}));
    EXPECT_TRUE(strings(state["live_access"]).contains(QString::fromStdString(token)));
    EXPECT_EQ(QString::fromStdString(store.secrets.at(kTokensKey)),
              strings(state["issued_refresh"]).last());
}

struct FailedSignIn {
    const char* name;
    OAuthServers::Redirect redirect;
    const char* deny;
    OAuthError::Kind kind;
    const char* text;
};

void PrintTo(const FailedSignIn& c, std::ostream* os) {
    *os << c.name;
}

class OAuthSignInFails : public ::testing::TestWithParam<FailedSignIn> {};

TEST_P(OAuthSignInFails, WithAMessageAndNoTokenAsked) {
    const FailedSignIn& c = GetParam();
    OAuthServers servers;
    ASSERT_NE(servers.httpPort(), 0);
    if (*c.deny)
        servers.admin(QStringLiteral("/admin/set?deny=") + QString::fromLatin1(c.deny));
    FakeSecretStore store;
    OAuthSession session(providerOf(servers), store, kTokensKey);
    session.SignInTimeOut = 3000;
    session.OpenUrl = servers.browser(c.redirect);
    try {
        session.AccessToken();
        ADD_FAILURE() << "signed in";
    } catch (const OAuthError& e) {
        EXPECT_EQ(e.kind, c.kind);
        EXPECT_EQ(std::string(e.what()), c.text);
    }
    EXPECT_TRUE(servers.state()["token_requests"].toArray().isEmpty());
    EXPECT_TRUE(store.secrets.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OAuthSignInFails,
    ::testing::Values(
        FailedSignIn{
            "WrongState", OAuthServers::Redirect::WrongState, "", OAuthError::Kind::StateMismatch,
            "サインインの応答を受け付けませんでした（state が一致しません）。もう一度送信し、"
            "ブラウザでサインインし直してください。"},
        FailedSignIn{
            "Denied", OAuthServers::Redirect::Follow, "access_denied", OAuthError::Kind::Denied,
            "サインインできませんでした（サーバーの応答: access_denied: The user said no）。"
            "アカウントとアプリケーションの登録を確かめてください。"},
        FailedSignIn{"NoRedirect", OAuthServers::Redirect::Ignore, "", OAuthError::Kind::TimedOut,
                     "ブラウザでのサインインが時間内に終わりませんでした。もう一度送信し、"
                     "ブラウザでサインインしてください。"}),
    [](const ::testing::TestParamInfo<FailedSignIn>& info) {
        return std::string(info.param.name);
    });

} // namespace
