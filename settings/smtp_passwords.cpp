#include "settings/smtp_passwords.h"

#include "common/cp932.h"

namespace tessaly {

SmtpPasswords::~SmtpPasswords() {
    for (auto& [key, entry] : entries_)
        wipe(entry.password);
}

std::string SmtpPasswords::keyFor(const std::string& hostSjis, int port, const std::string& login) {
    std::string host = cp932::toUtf8(hostSjis);
    for (char& c : host)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return "smtp:" + host + ":" + std::to_string(port) + ":" + login;
}

std::optional<std::string> SmtpPasswords::find(const std::string& key, bool useKeyring) {
    Entry& entry = entries_[key];
    if (!entry.password.empty())
        return entry.password;
    if (!useKeyring || entry.keyringRefused)
        return std::nullopt;
    SecretRead stored = store_.read(key);
    if (stored.status != SecretStatus::Ok || stored.secret.empty()) {
        wipe(stored.secret);
        return std::nullopt;
    }
    entry.password = stored.secret;
    entry.inKeyring = true;
    wipe(stored.secret);
    return entry.password;
}

void SmtpPasswords::remember(const std::string& key, const std::string& password) {
    Entry& entry = entries_[key];
    wipe(entry.password);
    entry.password = password;
    entry.inKeyring = false;
}

SecretStatus SmtpPasswords::typed(const std::string& key, const std::string& password, bool save) {
    remember(key, password);
    Entry& entry = entries_[key];
    entry.keyringRefused = false;
    if (!save)
        return SecretStatus::Ok;
    const SecretStatus status = store_.write(key, password);
    entry.inKeyring = status == SecretStatus::Ok;
    return status;
}

void SmtpPasswords::forgetSaved(const std::string& key) {
    store_.erase(key);
    entries_[key].inKeyring = false;
}

void SmtpPasswords::accepted(const std::string& key, bool save) {
    Entry& entry = entries_[key];
    if (!save || entry.inKeyring || entry.password.empty())
        return;
    entry.inKeyring = store_.write(key, entry.password) == SecretStatus::Ok;
    if (entry.inKeyring)
        entry.keyringRefused = false;
}

void SmtpPasswords::refused(const std::string& key) {
    Entry& entry = entries_[key];
    wipe(entry.password);
    if (entry.inKeyring)
        entry.keyringRefused = true;
    entry.inKeyring = false;
}

} // namespace tessaly
