// Where secrets (passwords, OAuth refresh tokens, client secrets) are kept: the system keyring in
// the program, a map in memory in the tests. Nothing behind this interface ever reaches a file.
#pragma once

#include <optional>
#include <string>

namespace tessaly {

class TSecretStore {
public:
    virtual ~TSecretStore() = default;
    // The secret stored under `key`, or nothing.
    virtual std::optional<std::string> Read(const std::string& key) = 0;
    virtual void Write(const std::string& key, const std::string& secret) = 0;
    virtual void Remove(const std::string& key) = 0;
};

} // namespace tessaly
