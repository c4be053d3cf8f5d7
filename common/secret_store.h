// Secrets (passwords, tokens) live in the system keyring, never in a file. Everything that keeps
// one goes through this interface: the program uses the keyring (common/keychain_secret_store.h),
// tests an in-memory stand-in.
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
    // `key` names one secret, e.g. "smtp:mail.example.jp:587:taro".
    virtual SecretRead read(const std::string& key) = 0;
    virtual SecretStatus write(const std::string& key, const std::string& secret) = 0;
    // Removing a key that holds nothing answers NotFound.
    virtual SecretStatus erase(const std::string& key) = 0;
};

// A machine without a keyring: every call answers NoKeyring. For tools that never log in.
class NoSecretStore : public SecretStore {
public:
    SecretRead read(const std::string&) override { return {}; }
    SecretStatus write(const std::string&, const std::string&) override {
        return SecretStatus::NoKeyring;
    }
    SecretStatus erase(const std::string&) override { return SecretStatus::NoKeyring; }
};

// Overwrites the bytes of a secret before letting it go, so that no copy of it lingers in freed
// memory (or a core file) longer than it must.
void wipe(std::string& secret) noexcept;

// Wipes a secret when the scope that holds it ends, however it ends.
class WipeOnExit {
public:
    explicit WipeOnExit(std::string& secret) : secret_(secret) {}
    ~WipeOnExit() { wipe(secret_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    std::string& secret_;
};

} // namespace tessaly
