#include "smtp/sasl_oauth.h"

#include <algorithm>

namespace tessaly {

namespace {

QByteArray bytesOf(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The server's error, one line and bounded: it ends up in a message box.
std::string errorText(const QByteArray& challenge) {
    std::string text;
    for (const char c : challenge.left(500))
        text += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    return text;
}

class XOAuth2Mechanism : public OAuthMechanism {
public:
    XOAuth2Mechanism(const std::string& login, const std::string& token)
        : m_login(login), m_token(token) {}
    const char* Name() const override { return "XOAUTH2"; }
    bool InitialResponse(QByteArray& response) override {
        response = "user=" + bytesOf(m_login) +
                   "\x01"
                   "auth=Bearer " +
                   bytesOf(m_token) + "\x01\x01";
        return true;
    }

protected:
    // An empty response.
    QByteArray ErrorAnswer() const override { return {}; }

private:
    const std::string& m_login;
    const std::string& m_token;
};

class OAuthBearerMechanism : public OAuthMechanism {
public:
    OAuthBearerMechanism(const std::string& login, const std::string& token,
                          const std::string& host, int port)
        : m_login(login), m_token(token), m_host(host), m_port(port) {}
    const char* Name() const override { return "OAUTHBEARER"; }
    bool InitialResponse(QByteArray& response) override {
        // The GS2 header names the account; "," and "=" in it are escaped (RFC 5801).
        QByteArray account = bytesOf(m_login);
        account.replace("=", "=3D").replace(",", "=2C");
        response = "n,a=" + account +
                   ",\x01"
                   "host=" +
                   bytesOf(m_host) +
                   "\x01"
                   "port=" +
                   QByteArray::number(m_port) +
                   "\x01"
                   "auth=Bearer " +
                   bytesOf(m_token) + "\x01\x01";
        return true;
    }

protected:
    // A single 0x01 (RFC 7628 3.2.3).
    QByteArray ErrorAnswer() const override { return QByteArray(1, '\x01'); }

private:
    const std::string& m_login;
    const std::string& m_token;
    const std::string& m_host;
    int m_port;
};

} // namespace

bool OAuthMechanism::Respond(const QByteArray& challenge, QByteArray& response) {
    if (!m_serverError.empty())
        return false;
    m_serverError = errorText(challenge);
    response = ErrorAnswer();
    return true;
}

std::unique_ptr<OAuthMechanism> ChooseOAuthMechanism(const std::vector<std::string>& offered,
                                                      const std::string& login,
                                                      const std::string& token,
                                                      const std::string& host, int port) {
    auto has = [&](const char* name) {
        return std::find(offered.begin(), offered.end(), name) != offered.end();
    };
    if (has("XOAUTH2"))
        return std::make_unique<XOAuth2Mechanism>(login, token);
    if (has("OAUTHBEARER"))
        return std::make_unique<OAuthBearerMechanism>(login, token, host, port);
    return nullptr;
}

} // namespace tessaly
