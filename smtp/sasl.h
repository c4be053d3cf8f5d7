// The login mechanisms of SMTP AUTH. Each is one class; the client asks the chooser for the best
// one the server offers and then only passes challenges and responses through. A new mechanism
// (a token-based one, say) is one more class and one more line in ChooseSaslMechanism.
#pragma once

#include <QByteArray>
#include <memory>
#include <string>
#include <vector>

namespace tessaly {

class SaslMechanism {
public:
    virtual ~SaslMechanism() = default;
    // The name after "AUTH ".
    virtual const char* Name() const = 0;
    // The response sent on the AUTH line itself; false when the mechanism sends none there.
    virtual bool InitialResponse(QByteArray& response) = 0;
    // The response to one decoded challenge; false when the mechanism has nothing to answer
    // (the exchange is then cancelled with "*").
    virtual bool Respond(const QByteArray& challenge, QByteArray& response) = 0;
};

// The mechanism to use among the ones the server offered (names in upper case): PLAIN, else
// LOGIN; nullptr when none fits. It reads the login and password from the given strings, which
// must outlive it.
std::unique_ptr<SaslMechanism> ChooseSaslMechanism(const std::vector<std::string>& offered,
                                                    const std::string& login, const std::string& password);

// Overwrites a secret before it is released.
void WipeSecret(std::string& secret);
void WipeSecret(QByteArray& secret);

} // namespace tessaly
