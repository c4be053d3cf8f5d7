// Sign-in with OAuth 2.0 the way a native application does it: the authorization code grant with
// PKCE (S256) in the system browser, redirected to a port on 127.0.0.1 that is listened on only
// while the sign-in runs, `state` checked. The refresh token lives in the secret store (in memory
// for this program start when no keyring answers); the access token only in memory.
//
//   OAuthSession session(provider, keyring, "oauth:" + account);
//   session.OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
//   const std::string token = session.AccessToken();   // browser only when nothing else works
//   ... the SMTP server refused the token as expired:
//   const std::string fresh = session.RenewAccessToken();
//
// Every wait is a nested event loop with a deadline that Cancel() also ends; failures throw
// OAuthError after the loop has returned. No token ever appears in an error text.
#pragma once

#include "common/errors.h"
#include "common/secret_store.h"

#include <QDateTime>
#include <QUrl>
#include <functional>
#include <string>

class QEventLoop;

namespace tessaly {

// The application registration at an authorization server. ASCII.
struct OAuthRegistration {
    std::string AuthorizationUrl;
    std::string TokenUrl;
    std::string Scope; // blank-separated
    std::string ClientId;
    std::string ClientSecret; // "" when the registration has none
};

struct OAuthTokens {
    std::string AccessToken;
    std::string RefreshToken; // "" when the server gave none
    QDateTime ExpiresAt;      // invalid when the server did not say
};

class OAuthError : public Error {
public:
    enum class Kind {
        Refused,       // the token endpoint refused the grant (a refresh token revoked or expired)
        Denied,        // the authorization server sent an error back through the browser
        StateMismatch, // the redirect did not carry the state this sign-in sent
        Failed,        // the server could not be reached or answered nonsense
        TimedOut,
        Canceled,
    };
    OAuthError(Kind kind, const std::string& text, std::string serverError = {})
        : Error(text), kind(kind), ServerError(std::move(serverError)) {}
    Kind kind;
    std::string ServerError; // the server's "error" and "error_description", as it sent them
};

using OpenUrlHandler = std::function<void(const QUrl& url)>;

// PKCE: a fresh code verifier, and the S256 challenge of a verifier (RFC 7636).
std::string PkceVerifier();
std::string PkceChallenge(const std::string& verifier);

class OAuthSession {
public:
    // `secretKey` names this account's refresh token in `store`.
    OAuthSession(OAuthRegistration provider, SecretStore& store, std::string secretKey);

    OpenUrlHandler OpenUrl; // opens the sign-in page in the system browser
    // Told why a browser sign-in must be done again (the stored one was refused) before the
    // browser opens; the text says what happened and what to do.
    std::function<void(const std::string& why)> OnSignInAgain;
    int SignInTimeOut = 300000; // ms the user has in the browser
    int TimeOut = 60000;        // ms for one answer of the token endpoint

    // An access token that is good for at least five more minutes: the one in memory, else one
    // from the stored refresh token, else one from a sign-in in the browser.
    std::string AccessToken();
    // The server refused the token it was given (expired early, revoked): a fresh one, by the
    // refresh token when there is one.
    std::string RenewAccessToken();
    // Ends a running wait (a sign-in in the browser above all) with OAuthError::Kind::Canceled.
    void Cancel();

    // A token is renewed this long before it expires.
    static constexpr int RenewBeforeSeconds = 5 * 60;

private:
    std::string obtain();
    std::string keep(OAuthTokens token);
    // One browser sign-in: the tokens for the authorization code the redirect brings.
    OAuthTokens signIn();
    // A new access token for `refreshToken` (kept when the server sends no new one). A refusal
    // throws OAuthError::Kind::Refused.
    OAuthTokens refresh(const std::string& refreshToken);
    void waitFor(const std::function<bool()>& done, int timeOutMs);
    void wake();

    OAuthRegistration m_provider;
    SecretStore& m_store;
    std::string m_secretKey;
    OAuthTokens m_token;
    bool m_canceled = false;
    QEventLoop* m_loop = nullptr; // the running wait
};

// The message shown before a new browser sign-in when the stored one was refused.
std::string SignInAgainText(const std::string& serverError);

} // namespace tessaly
