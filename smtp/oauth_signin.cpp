#include "smtp/oauth_signin.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QOAuthOobReplyHandler>
#include <QRandomGenerator>
#include <QTimer>
#include <optional>

namespace tessaly {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

QByteArray base64Url(const QByteArray& bytes) {
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// What the server said about a refused request, for a message: "error: description", one line,
// bounded, so that whatever it sends cannot flood a message box.
std::string serverErrorOf(const QJsonObject& o) {
    QString text = o.value(QStringLiteral("error")).toString();
    const QString description = o.value(QStringLiteral("error_description")).toString();
    if (!description.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(": ")) + description;
    text = text.simplified().left(300);
    return text.toStdString();
}

std::string withServer(const char* before, const std::string& serverError, const char* after) {
    return std::string(before) + "（サーバーの応答: " + serverError + "）。" + after;
}

// The answer of the token endpoint, read here because Qt 6.4's flow neither reports a refused
// request nor keeps a refresh token the server did not repeat.
struct TokenReply {
    std::optional<OAuthTokens> token;
    std::optional<OAuthError> error;
};

TokenReply readTokenReply(QNetworkReply* reply) {
    const QByteArray body = reply->readAll();
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    TokenReply out;
    if (status == 0) {
        out.error.emplace(
            OAuthError::Kind::Failed,
            "トークンを取得できませんでした（" + reply->errorString().toStdString() +
                "）。ネットワークとトークン エンドポイントの設定を確かめてください。");
        return out;
    }
    const QString accessToken = o.value(QStringLiteral("access_token")).toString();
    if (status / 100 == 2 && !accessToken.isEmpty()) {
        OAuthTokens token;
        token.AccessToken = accessToken.toStdString();
        token.RefreshToken = o.value(QStringLiteral("refresh_token")).toString().toStdString();
        // Some servers send the lifetime as a string.
        const QJsonValue expiresIn = o.value(QStringLiteral("expires_in"));
        const qint64 seconds = expiresIn.isString() ? expiresIn.toString().toLongLong()
                                                    : static_cast<qint64>(expiresIn.toDouble(0));
        if (seconds > 0)
            token.ExpiresAt = QDateTime::currentDateTimeUtc().addSecs(seconds);
        out.token = std::move(token);
        return out;
    }
    std::string serverError = serverErrorOf(o);
    if (serverError.empty())
        serverError = "HTTP " + std::to_string(status);
    // invalid_grant: the code or refresh token is revoked, expired or used; a new sign-in helps.
    const bool grantRefused =
        o.value(QStringLiteral("error")).toString() == QStringLiteral("invalid_grant");
    out.error.emplace(grantRefused ? OAuthError::Kind::Refused : OAuthError::Kind::Failed,
                      withServer("トークンを取得できませんでした", serverError,
                                 "クライアント ID などの設定を確かめてください。"),
                      serverError);
    return out;
}

// The token a finished wait brought, or the reason it brought none.
OAuthTokens tokenOf(const std::optional<TokenReply>& result, bool canceled,
                    const char* timedOutText) {
    if (!result && canceled)
        throw OAuthError(OAuthError::Kind::Canceled, "サインインを中止しました。");
    if (!result)
        throw OAuthError(OAuthError::Kind::TimedOut, timedOutText);
    if (result->error)
        throw *result->error;
    return *result->token;
}

// A reply handler of Qt's that hands the token endpoint's answer to `onReply` instead of its own
// reading.
template <typename Base> class TokenReplyHandler : public Base {
public:
    using Base::Base;
    std::function<void(const TokenReply&)> onReply;
    void networkReplyFinished(QNetworkReply* reply) override {
        if (onReply)
            onReply(readTokenReply(reply));
    }
};

void configure(QOAuth2AuthorizationCodeFlow& flow, const OAuthRegistration& p) {
    flow.setAuthorizationUrl(QUrl(qs(p.AuthorizationUrl)));
    flow.setAccessTokenUrl(QUrl(qs(p.TokenUrl)));
    flow.setClientIdentifier(qs(p.ClientId));
    if (!p.ClientSecret.empty())
        flow.setClientIdentifierSharedKey(qs(p.ClientSecret));
    flow.setScope(qs(p.Scope));
}

} // namespace

std::string PkceVerifier() {
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    return base64Url(QByteArray(reinterpret_cast<const char*>(words), sizeof words)).toStdString();
}

std::string PkceChallenge(const std::string& verifier) {
    return base64Url(QCryptographicHash::hash(QByteArray::fromStdString(verifier),
                                              QCryptographicHash::Sha256))
        .toStdString();
}

std::string SignInAgainText(const std::string& serverError) {
    return withServer(
        "保存されていたサインインが使えなくなりました", serverError,
        "取り消されたか期限が切れています。ブラウザでもう一度サインインしてください。");
}

OAuthSession::OAuthSession(OAuthRegistration provider, SecretStore& store, std::string secretKey)
    : m_provider(std::move(provider)), m_store(store), m_secretKey(std::move(secretKey)) {}

void OAuthSession::Cancel() {
    m_canceled = true;
    if (m_loop)
        m_loop->quit();
}

void OAuthSession::waitFor(const std::function<bool()>& done, int timeOutMs) {
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeOutMs);
    m_loop = &loop;
    while (!done() && !m_canceled && deadline.isActive())
        loop.exec();
    m_loop = nullptr;
}

void OAuthSession::wake() {
    if (m_loop)
        m_loop->quit();
}

OAuthTokens OAuthSession::signIn() {
    QNetworkAccessManager network;
    QOAuth2AuthorizationCodeFlow flow(&network);
    configure(flow, m_provider);
    // Listening starts here and ends with this function: the port exists only for the sign-in.
    auto* handler = new TokenReplyHandler<QOAuthHttpServerReplyHandler>(
        QHostAddress(QHostAddress::LocalHost), 0, &flow);
    if (!handler->isListening())
        throw OAuthError(OAuthError::Kind::Failed,
                          "サインインの応答を受ける 127.0.0.1 のポートを開けませんでした。");
    handler->setCallbackText(
        QStringLiteral("サインインしました。このページを閉じて Tessaly に戻ってください。"));
    flow.setReplyHandler(handler);

    const QString verifier = qs(PkceVerifier());
    const QString challenge = qs(PkceChallenge(verifier.toStdString()));
    flow.setModifyParametersFunction(
        [verifier, challenge](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* p) {
            if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
                p->insert(QStringLiteral("code_challenge"), challenge);
                p->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
                p->insert(QStringLiteral("code_verifier"), verifier);
            }
        });

    std::optional<TokenReply> result;
    auto fail = [&](OAuthError::Kind kind, const std::string& text,
                    const std::string& serverError = {}) {
        if (!result)
            result.emplace().error.emplace(kind, text, serverError);
        wake();
    };
    handler->onReply = [&](const TokenReply& reply) {
        if (!result)
            result = reply;
        wake();
    };
    QObject::connect(
        handler, &QAbstractOAuthReplyHandler::callbackReceived, [&](const QVariantMap& values) {
            // The redirect's query is form-encoded: "+" stands for a blank, which Qt 6.4 leaves as
            // it is.
            auto formValue = [&values](const char* key) {
                return values.value(QLatin1String(key))
                    .toString()
                    .replace(QLatin1Char('+'), QLatin1Char(' '));
            };
            const QString error = formValue("error");
            if (!error.isEmpty()) {
                QJsonObject o;
                o.insert(QStringLiteral("error"), error);
                o.insert(QStringLiteral("error_description"), formValue("error_description"));
                const std::string serverError = serverErrorOf(o);
                fail(OAuthError::Kind::Denied,
                     withServer("サインインできませんでした", serverError,
                                "アカウントとアプリケーションの登録を確かめてください。"),
                     serverError);
            } else if (values.value(QStringLiteral("state")).toString() != flow.state()) {
                // Not the answer to this sign-in: whoever sent it must not get a token for it.
                fail(OAuthError::Kind::StateMismatch,
                     "サインインの応答を受け付けませんでした（state が一致しません）。"
                     "もう一度送信し、ブラウザでサインインし直してください。");
            } else if (values.value(QStringLiteral("code")).toString().isEmpty()) {
                fail(OAuthError::Kind::Failed,
                     "サインインの応答に認可コードがありません。もう一度送信してください。");
            }
            // Otherwise the flow now asks the token endpoint for the tokens.
        });
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, [this](const QUrl& url) {
        if (OpenUrl)
            OpenUrl(url);
    });

    flow.grant();
    waitFor([&] { return result.has_value(); }, SignInTimeOut);
    handler->close();
    return tokenOf(result, m_canceled,
                   "ブラウザでのサインインが時間内に終わりませんでした。"
                   "もう一度送信し、ブラウザでサインインしてください。");
}

OAuthTokens OAuthSession::refresh(const std::string& refreshToken) {
    QNetworkAccessManager network;
    QOAuth2AuthorizationCodeFlow flow(&network);
    configure(flow, m_provider);
    // No redirect comes back for a refresh: nothing listens.
    auto* handler = new TokenReplyHandler<QOAuthOobReplyHandler>(&flow);
    flow.setReplyHandler(handler);
    flow.setRefreshToken(qs(refreshToken));
    std::optional<TokenReply> result;
    handler->onReply = [&](const TokenReply& reply) {
        if (!result)
            result = reply;
        wake();
    };
    flow.refreshAccessToken();
    waitFor([&] { return result.has_value(); }, TimeOut);
    OAuthTokens token = tokenOf(result, m_canceled,
                                "トークン エンドポイントから時間内に応答がありませんでした。"
                                "ネットワークを確かめてから、もう一度送信してください。");
    if (token.RefreshToken.empty())
        token.RefreshToken = refreshToken;
    return token;
}

std::string OAuthSession::keep(OAuthTokens token) {
    // Without a keyring the refresh token still serves this program start from memory.
    if (!token.RefreshToken.empty())
        m_store.write(m_secretKey, token.RefreshToken);
    m_token = std::move(token);
    return m_token.AccessToken;
}

std::string OAuthSession::obtain() {
    m_canceled = false;
    std::string refreshToken = m_token.RefreshToken;
    if (refreshToken.empty()) {
        SecretRead stored = m_store.read(m_secretKey);
        if (stored.status == SecretStatus::Ok)
            refreshToken = std::move(stored.secret);
    }
    if (!refreshToken.empty()) {
        try {
            return keep(refresh(refreshToken));
        } catch (const OAuthError& e) {
            if (e.kind != OAuthError::Kind::Refused)
                throw;
            m_store.erase(m_secretKey);
            m_token = {};
            if (OnSignInAgain)
                OnSignInAgain(SignInAgainText(e.ServerError));
        }
    }
    return keep(signIn());
}

std::string OAuthSession::AccessToken() {
    const bool fresh =
        !m_token.AccessToken.empty() &&
        (!m_token.ExpiresAt.isValid() ||
         QDateTime::currentDateTimeUtc().addSecs(RenewBeforeSeconds) < m_token.ExpiresAt);
    return fresh ? m_token.AccessToken : obtain();
}

std::string OAuthSession::RenewAccessToken() {
    m_token.AccessToken.clear();
    return obtain();
}

} // namespace tessaly
