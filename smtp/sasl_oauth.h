// The token mechanisms of SMTP AUTH: XOAUTH2 (the form Microsoft and Google document) and
// OAUTHBEARER (RFC 7628). Both send the access token on the AUTH line; a server that refuses it
// sends an error challenge (JSON, base64) that the client answers, after which the server ends
// the exchange with a refusal. The JSON is kept for the message.
#pragma once

#include "smtp/sasl.h"

namespace tessaly {

class OAuthMechanism : public SaslMechanism {
public:
    // The server's error challenge, decoded (JSON as it was sent); "" when none came.
    const std::string& ServerError() const { return m_serverError; }
    // The only challenge is the error: it is kept and answered once, as the mechanism says.
    bool Respond(const QByteArray& challenge, QByteArray& response) override;

protected:
    // What answers the error challenge.
    virtual QByteArray ErrorAnswer() const = 0;

private:
    std::string m_serverError;
};

// XOAUTH2 when the server offers it, else OAUTHBEARER; nullptr when it offers neither. The login
// is the mail address the token belongs to; `host` and `port` are the server's as the user gave
// them (OAUTHBEARER names them). The strings must outlive the mechanism.
std::unique_ptr<OAuthMechanism> ChooseOAuthMechanism(const std::vector<std::string>& offered,
                                                      const std::string& login,
                                                      const std::string& token,
                                                      const std::string& host, int port);

} // namespace tessaly
