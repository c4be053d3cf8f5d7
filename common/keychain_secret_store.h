// The system keyring (Secret Service or KWallet, through QtKeychain) as the program's SecretStore.
#pragma once

#include "common/secret_store.h"

#include <QString>
#include <atomic>
#include <memory>

class QObject;
class QThread;

namespace tessaly {

// The keyring answers over D-Bus, and a bus that accepts a connection but never answers blocks
// the calling thread inside the library for a minute. So every job runs on a thread of its own,
// and the caller waits for its answer in a nested event loop that takes no user input, at most
// `timeoutMs`. A keyring that does not answer in time (no session bus, a service that never
// starts, a prompt nobody answers) counts as no keyring, and from then on every call answers
// NoKeyring at once: a missing keyring costs one wait per program start, not one per send.
class KeychainSecretStore : public SecretStore {
public:
    explicit KeychainSecretStore(QString service, int timeoutMs = 10000);
    ~KeychainSecretStore() override;
    KeychainSecretStore(const KeychainSecretStore&) = delete;
    KeychainSecretStore& operator=(const KeychainSecretStore&) = delete;

    SecretRead read(const std::string& key) override;
    SecretStatus write(const std::string& key, const std::string& secret) override;
    SecretStatus erase(const std::string& key) override;

    // A call that timed out is still held inside the keyring library. The library then blocks the
    // process's normal end (until the bus gives up); the program ends without it instead.
    bool callHanging() const { return hanging_ && *hanging_; }

private:
    enum class Op { Read, Write, Erase };
    SecretStatus run(Op op, const std::string& key, const std::string& secret,
                     std::string* readSecret);

    QString service_;
    int timeoutMs_;
    bool unavailable_ = false;
    QThread* thread_ = nullptr;                 // where the jobs run, started at the first call
    QObject* worker_ = nullptr;                 // lives in thread_
    QObject* relay_ = nullptr;                  // lives in the caller's thread: answers reach it
    std::shared_ptr<std::atomic_bool> hanging_; // a job is running in thread_
};

} // namespace tessaly
