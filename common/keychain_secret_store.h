// The system keyring (Secret Service or KWallet, through QtKeychain) as the program's SecretStore.
#pragma once

#include "common/secret_store.h"

#include <QString>
#include <functional>

namespace QKeychain {
class Job;
}

namespace tessaly {

// The keyring answers asynchronously, over D-Bus. Each call waits for its answer in a nested
// event loop that takes no user input, at most `timeoutMs`; a keyring that does not answer in
// time (no session bus, a service that never starts, a prompt nobody answers) counts as no
// keyring, and from then on every call answers NoKeyring at once, so that a missing keyring
// costs one wait per program start, not one per send.
class KeychainSecretStore : public SecretStore {
public:
    explicit KeychainSecretStore(QString service, int timeoutMs = 10000);

    SecretRead read(const std::string& key) override;
    SecretStatus write(const std::string& key, const std::string& secret) override;
    SecretStatus erase(const std::string& key) override;

private:
    SecretStatus run(QKeychain::Job* job, const std::string& key,
                     const std::function<void(QKeychain::Job&)>& onOk);

    QString service_;
    int timeoutMs_;
    bool unavailable_ = false;
};

} // namespace tessaly
