// The SMTP login passwords of one program start: kept in memory, and in the system keyring when
// the user chose "パスワードを保存". Never in TSY2.ini or any other file.
#pragma once

#include "common/secret_store.h"

#include <map>
#include <optional>
#include <string>

namespace tessaly {

class SmtpPasswords {
public:
    explicit SmtpPasswords(SecretStore& store) : store_(store) {}
    ~SmtpPasswords();
    SmtpPasswords(const SmtpPasswords&) = delete;
    SmtpPasswords& operator=(const SmtpPasswords&) = delete;

    // The keyring key of the password of `login` at `hostSjis`:`port`:
    // "smtp:<host>:<port>:<login>", the host in lower case.
    static std::string keyFor(const std::string& hostSjis, int port, const std::string& login);

    // The password to log in with: the one typed or used during this program start, else (with
    // `useKeyring`) the keyring's, unless a login with that one was refused. None: ask the user.
    std::optional<std::string> find(const std::string& key, bool useKeyring);
    // Typed when the run asked for it: kept for this program start (and reaches the keyring once
    // the server accepts it, see accepted()).
    void remember(const std::string& key, const std::string& password);
    // Typed in "送信サーバーの詳細" and confirmed by the settings window's Save: kept for this
    // program start and, with `save`, written to the keyring at once. The keyring's answer; Ok
    // when nothing was to be written.
    SecretStatus typed(const std::string& key, const std::string& password, bool save);
    // "パスワードを保存" turned off: the keyring's copy goes.
    void forgetSaved(const std::string& key);
    // The server accepted the login: with `save`, the password reaches the keyring (replacing a
    // refused one) unless it came from there.
    void accepted(const std::string& key, bool save);
    // The server refused the login: the password is forgotten, and the keyring's copy is not
    // used again until a new one replaces it, so that the next send asks.
    void refused(const std::string& key);

    // The keyring itself, for the other secrets of a login (OAuth tokens and client secrets).
    SecretStore& store() { return store_; }

private:
    struct Entry {
        std::string password;   // empty: none known in this program start
        bool inKeyring = false; // `password` is what the keyring holds
        bool keyringRefused = false;
    };

    SecretStore& store_;
    std::map<std::string, Entry> entries_;
};

} // namespace tessaly
