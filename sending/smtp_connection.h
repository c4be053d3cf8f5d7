// Opens the SMTP client's connection the way a run's settings ask for it: the server and the
// greeting's user id, the protection, a password login (the password known from this program
// start or the keyring, else asked for) or an OAuth login (a token got before anything
// connects), and a certificate that fails its check trusted by the user, once, for this host and
// port. The OAuth session lives as long as this object, so that later runs need no browser.
#pragma once

#include "sending/run_snapshot.h"
#include "sending/run_state.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>

namespace tessaly {

class OAuthSession;
class RunPrompts;
class SmtpPasswords;
class TSmtpClient;

class SmtpConnection : public QObject {
    Q_OBJECT
public:
    SmtpConnection(TSmtpClient& client, RunPrompts& prompts, QObject* parent = nullptr);
    ~SmtpConnection() override;

    void setPasswords(SmtpPasswords* passwords) { passwords_ = passwords; }

    // Connects and greets the server. Gives the status text of an end without an error (no
    // password given, the certificate not trusted, a stop while connecting or signing in);
    // none when connected. A failure raises its error with the text the user reads;
    // failureReason() then names its kind for the status bar. A certificate trusted here is
    // kept in `settings` for the reconnects of the same run.
    std::optional<QString> open(RunSettings& settings);
    // Ends a connect, a handshake, a login or a sign-in that is under way, at once.
    void stop();
    const QString& failureReason() const { return failureReason_; }

signals:
    void statusChanged(const QString& text);
    void stateChanged(tessaly::RunState state); // Connecting, SigningIn

private:
    struct Attempt;
    Attempt attempt();
    std::optional<QString> signIn(const RunSettings& settings);
    std::optional<std::string> password(const std::string& key, const RunSettings& settings);

    TSmtpClient& client_;
    RunPrompts& prompts_;
    SmtpPasswords* passwords_ = nullptr;
    std::unique_ptr<OAuthSession> oauth_;
    std::string oauthIdentity_;
    bool signingIn_ = false;
    bool stopped_ = false;
    QString failureReason_;
};

} // namespace tessaly
