#include "smtp/sasl.h"

#include "common/secret_store.h"

#include <algorithm>

namespace tessaly {

namespace {

void append(QByteArray& to, const std::string& text) { to.append(text.data(), static_cast<qsizetype>(text.size())); }

// RFC 4616: no authorisation identity, the login, the password, separated by zero bytes.
class PlainMechanism : public SaslMechanism {
public:
    PlainMechanism(const std::string& login, const std::string& password) : m_login(login), m_password(password) {}
    const char* Name() const override { return "PLAIN"; }
    bool InitialResponse(QByteArray& response) override {
        // Sized once, so that no reallocation leaves a copy of the password behind.
        response.clear();
        response.reserve(static_cast<qsizetype>(m_login.size() + m_password.size() + 2));
        response.append('\0');
        append(response, m_login);
        response.append('\0');
        append(response, m_password);
        return true;
    }
    bool Respond(const QByteArray&, QByteArray&) override { return false; }

private:
    const std::string& m_login;
    const std::string& m_password;
};

// The login, then the password, each on its own challenge.
class LoginMechanism : public SaslMechanism {
public:
    LoginMechanism(const std::string& login, const std::string& password) : m_login(login), m_password(password) {}
    const char* Name() const override { return "LOGIN"; }
    bool InitialResponse(QByteArray&) override { return false; }
    bool Respond(const QByteArray&, QByteArray& response) override {
        ++m_round;
        if (m_round > 2)
            return false;
        response.clear();
        append(response, m_round == 1 ? m_login : m_password);
        return true;
    }

private:
    const std::string& m_login;
    const std::string& m_password;
    int m_round = 0;
};

} // namespace

std::unique_ptr<SaslMechanism> ChooseSaslMechanism(const std::vector<std::string>& offered,
                                                    const std::string& login, const std::string& password) {
    auto has = [&](const char* name) { return std::find(offered.begin(), offered.end(), name) != offered.end(); };
    if (has("PLAIN"))
        return std::make_unique<PlainMechanism>(login, password);
    if (has("LOGIN"))
        return std::make_unique<LoginMechanism>(login, password);
    return nullptr;
}

void WipeSecret(std::string& secret) { wipe(secret); }

void WipeSecret(QByteArray& secret) {
    if (!secret.isDetached())
        secret = QByteArray(); // another copy holds the bytes; dropping ours is all that can be done
    volatile char* p = secret.data();
    for (qsizetype i = 0; i < secret.size(); ++i)
        p[i] = '\0';
    secret.clear();
}

} // namespace tessaly
