// Secrets (passwords, tokens) live in the system keyring, never in a file. Everything that keeps
// one goes through this interface: the program uses the keyring, tests an in-memory stand-in.
#pragma once

#include <string>

namespace tessaly {

enum class SecretStatus {
    Ok,        // done; for a read, the secret is there
    NotFound,  // the keyring answered and holds nothing under the key
    NoKeyring, // no keyring answered (none installed, locked, refused, or too slow)
};

struct SecretRead {
    SecretStatus status = SecretStatus::NoKeyring;
    std::string secret; // UTF-8; empty unless status is Ok
};

class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual SecretRead read(const std::string& key) = 0;
    virtual SecretStatus write(const std::string& key, const std::string& secret) = 0;
    // Removing a key that holds nothing answers NotFound.
    virtual SecretStatus erase(const std::string& key) = 0;
};

} // namespace tessaly
