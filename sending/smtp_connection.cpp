#include "sending/smtp_connection.h"

#include "common/errors.h"
#include "common/secret_store.h"
#include "sending/run_checks.h"
#include "sending/run_failure.h"
#include "sending/run_prompts.h"
#include "settings/smtp_passwords.h"
#include "smtp/oauth_signin.h"
#include "smtp/smtp_client.h"

#include <vector>

namespace tessaly {

namespace {

const char kPinAdvice[] = "\r\n証明書が正しく更新されたものかどうか、サーバーの管理者に確かめてください。"
                          "確かめられたら、設定画面の「送信サーバーの詳細」で信頼した証明書を消去してから、"
                          "もう一度送信してください。";
const char kAskAgain[] = "\r\n次に送信するときに、パスワードをもう一度お尋ねします。";

// A certificate may be trusted when the check found fault with it, but never in place of another
// the user trusted before (a changed certificate is refused again) and never without one.
bool mayBeTrusted(const std::vector<CertProblem>& problems, const std::string& fingerprint) {
    if (fingerprint.empty() || problems.empty())
        return false;
    for (const CertProblem problem : problems)
        if (problem == CertProblem::PinMismatch || problem == CertProblem::Handshake)
            return false;
    return true;
}

} // namespace

// What one Connect came to. The client raises its failures; they become this value here, in one
// place, and the run decides from it.
struct SmtpConnection::Attempt {
    enum class Kind { Connected, Tls, Login, Failed } kind = Kind::Connected;
    std::string text;
    std::vector<CertProblem> problems;
    std::string fingerprint;
    std::string pinnedFingerprint;
    FailedStep step = FailedStep::Connect;
    bool temporary = false;
};

SmtpConnection::SmtpConnection(TSmtpClient& client, RunPrompts& prompts, QObject* parent)
    : QObject(parent), client_(client), prompts_(prompts) {}

SmtpConnection::~SmtpConnection() = default;

SmtpConnection::Attempt SmtpConnection::attempt() {
    using Kind = Attempt::Kind;
    try {
        client_.Connect();
        return {};
    } catch (const TlsError& e) {
        return {Kind::Tls, e.what(), e.Problems, e.Fingerprint, e.PinnedFingerprint, FailedStep::Tls, false};
    } catch (const AuthError& e) {
        return {Kind::Login, e.what(), {}, {}, {}, FailedStep::Login, false};
    } catch (const RefusedError& e) {
        return {Kind::Failed, e.what(), {}, {}, {}, FailedStepOf(e.Reply.Step), e.Reply.Transient()};
    } catch (const std::exception& e) {
        return {Kind::Failed, e.what(), {}, {}, {}, FailedStep::Connect, false};
    }
}

void SmtpConnection::stop() {
    if (oauth_) {
        stopped_ = stopped_ || signingIn_;
        oauth_->Cancel();
    }
    if (client_.Connecting()) {
        stopped_ = true;
        client_.Abort();
    }
}

std::optional<std::string> SmtpConnection::password(const std::string& key,
                                                    const RunSettings& settings) {
    if (passwords_) {
        if (std::optional<std::string> known = passwords_->find(key, settings.savePassword))
            return known;
    }
    std::optional<std::string> typed = prompts_.askPassword(
        PasswordQuestionText(settings.hostSjis, settings.port, settings.loginName));
    if (!typed || typed->empty())
        return std::nullopt;
    if (passwords_)
        passwords_->remember(key, *typed);
    return typed;
}

// An access token is got before anything connects (a sign-in in the browser may take the user a
// while, and no server should wait for it); the client gets fresh ones from the same session
// when the server wants them. The status text when the stop button ended the sign-in.
std::optional<QString> SmtpConnection::signIn(const RunSettings& settings) {
    const std::string identity = settings.oauth.AuthorizationUrl + "\n" + settings.oauth.TokenUrl +
                                 "\n" + settings.oauth.ClientId + "\n" + settings.oauth.Scope +
                                 "\n" + settings.loginName;
    if (!oauth_ || identity != oauthIdentity_) {
        OAuthRegistration provider = settings.oauth;
        static NoSecretStore noKeyring;
        SecretStore& store = passwords_ ? passwords_->store() : static_cast<SecretStore&>(noKeyring);
        SecretRead secret = store.read(settings.oauthClientSecretKey);
        if (secret.status == SecretStatus::Ok)
            provider.ClientSecret.swap(secret.secret);
        wipe(secret.secret);
        oauth_ = std::make_unique<OAuthSession>(std::move(provider), store,
                                                settings.oauthRefreshTokenKey);
        oauthIdentity_ = identity;
        oauth_->OnSignInAgain = [this](const std::string& why) {
            prompts_.inform(QString::fromUtf8(why));
        };
        oauth_->OpenUrl = [this](const QUrl& url) {
            emit statusChanged(QStringLiteral("ブラウザでサインインしてください"));
            prompts_.openSignInPage(url);
        };
    }
    OAuthSession* session = oauth_.get();
    stopped_ = false;
    signingIn_ = true;
    emit stateChanged(RunState::SigningIn);
    std::string failure;
    bool canceled = false;
    try {
        session->AccessToken();
    } catch (const OAuthError& e) {
        failure = e.what();
        canceled = e.kind == OAuthError::Kind::Canceled;
    }
    signingIn_ = false;
    emit stateChanged(RunState::Connecting);
    if (stopped_ || canceled)
        return QStringLiteral("サインインを中止しました");
    if (!failure.empty()) {
        failureReason_ = QStringLiteral("認証エラー");
        throw StepError(FailedStep::Login, "認証: " + failure);
    }
    client_.OAuthToken = [session](bool renew) {
        return renew ? session->RenewAccessToken() : session->AccessToken();
    };
    return std::nullopt;
}

std::optional<QString> SmtpConnection::open(RunSettings& settings) {
    failureReason_.clear();
    stopped_ = false;
    if (const QString refusal = PortRefusal(settings); !refusal.isEmpty())
        throw Error(refusal.toStdString());
    client_.Host = settings.hostSjis;
    client_.Port = settings.port;
    client_.UserID = settings.userIdSjis;
    client_.Security = settings.security;
    client_.UseAuth = settings.login != RunLogin::None;
    client_.LoginName = settings.loginName;
    client_.TrustedFingerprint = settings.trustedFingerprint;
    client_.OAuthToken = nullptr;

    std::string key;
    std::string secret;
    const WipeOnExit wipeSecret(secret);
    if (settings.login == RunLogin::OAuth) {
        if (std::optional<QString> ended = signIn(settings))
            return ended;
    } else if (settings.login == RunLogin::Password) {
        key = SmtpPasswords::keyFor(client_.Host, client_.Port, client_.LoginName);
        std::optional<std::string> known = password(key, settings);
        if (!known)
            return QStringLiteral("パスワードが入力されなかったため、送信を中止しました");
        secret.swap(*known);
        wipe(*known);
    }
    emit statusChanged(QStringLiteral("HOST-OPEN中！"));
    using Kind = Attempt::Kind;
    for (bool trustOffered = false;;) {
        stopped_ = false;
        client_.Password = secret; // the client wipes its copy, whatever the end of Connect
        const Attempt a = attempt();
        if (a.kind == Kind::Connected)
            break;
        if (stopped_)
            return QStringLiteral("接続を中止しました");
        if (a.kind == Kind::Tls) {
            failureReason_ = QStringLiteral("TLS エラー");
            if (!a.pinnedFingerprint.empty())
                throw StepError(FailedStep::Tls, a.text + kPinAdvice);
            if (trustOffered || !mayBeTrusted(a.problems, a.fingerprint))
                throw StepError(FailedStep::Tls, a.text);
            const CertificateQuestion question{
                TrustQuestionText(a.text, settings.hostSjis, settings.port), settings.hostSjis,
                settings.port, a.fingerprint};
            if (!prompts_.trustCertificate(question))
                return QStringLiteral("証明書を信頼しなかったため、送信を中止しました");
            client_.TrustedFingerprint = a.fingerprint;
            settings.trustedFingerprint = a.fingerprint;
            trustOffered = true;
            continue;
        }
        if (a.kind == Kind::Login) {
            failureReason_ = QStringLiteral("認証エラー");
            if (client_.OAuthToken)
                throw StepError(FailedStep::Login, a.text);
            if (passwords_)
                passwords_->refused(key);
            throw StepError(FailedStep::Login, a.text + kAskAgain);
        }
        throw StepError(a.step, a.text, a.temporary);
    }
    failureReason_.clear();
    if (settings.login == RunLogin::Password && passwords_)
        passwords_->accepted(key, settings.savePassword);
    return std::nullopt;
}

} // namespace tessaly

#include "moc_smtp_connection.cpp"
