#include "settings/settings.h"

#include "common/cp932.h"
#include "common/errors.h"
#include "settings/ini_file.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>
#include <vector>

namespace tessaly {

std::string startDirectoryOf(std::string_view cwdSjis) {
    std::string dir(cwdSjis);
    if (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string currentStartDirectory() {
    const std::string cwd = std::filesystem::current_path().string();
    cp932::EncodeResult sjis = cp932::fromUtf8(cwd);
    if (!sjis.ok()) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(sjis.refused.front().codePoint));
        throw Error("作業フォルダ " + cwd + " には Shift-JIS で表せない文字 (" + code +
                    ") が含まれているため、設定ファイルを置けません。");
    }
    return startDirectoryOf(sjis.bytes);
}

std::string iniPath(const std::string& startDirectory) {
    return startDirectory + std::string(IniFileName);
}

namespace {

constexpr const char* kSubmission = "Submission";

int readChoice(const ini::IniFile& file, const char* key, int last) {
    const int value = file.readInteger(kSubmission, key, 0);
    return value >= 0 && value <= last ? value : 0;
}

int readInRange(const ini::IniFile& file, const char* key, int low, int high, int fallback) {
    const int value = file.readInteger(kSubmission, key, fallback);
    return value >= low && value <= high ? value : fallback;
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string trustKey(std::string_view host, int port) {
    return lowerAscii(host) + ":" + std::to_string(port);
}

// The TrustedCerts entries as (key, fingerprint) pairs; malformed entries are dropped.
std::vector<std::pair<std::string, std::string>> trustEntries(const std::string& list) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string entry = list.substr(start, end - start);
        const std::size_t eq = entry.find('=');
        if (eq != std::string::npos && eq > 0 && eq + 1 < entry.size())
            entries.emplace_back(lowerAscii(entry.substr(0, eq)), entry.substr(eq + 1));
        start = end + 1;
    }
    return entries;
}

} // namespace

void Submission_Load(Settings& s, const ini::IniFile& file) {
    const Settings defaults;
    s.Security = readChoice(file, "Security", 2);
    s.Auth = readChoice(file, "Auth", 2);
    s.Login = file.readString(kSubmission, "Login", {});
    s.SavePassword = file.readBool(kSubmission, "SavePassword", defaults.SavePassword);
    s.TrustedCerts = file.readString(kSubmission, "TrustedCerts", {});
    s.Charset = readChoice(file, "Charset", 2);
    s.SkipRefused = file.readBool(kSubmission, "SkipRefused", defaults.SkipRefused);
    s.PerMinute = readInRange(file, "PerMinute", 0, 10000, defaults.PerMinute);
    s.PauseEvery = readInRange(file, "PauseEvery", 0, 100000, defaults.PauseEvery);
    s.PauseSeconds = readInRange(file, "PauseSeconds", 1, 86400, defaults.PauseSeconds);
    s.Retry = file.readBool(kSubmission, "Retry", defaults.Retry);
    s.RetryTries = readInRange(file, "RetryTries", 1, 10, defaults.RetryTries);
    s.ConfirmSend = file.readBool(kSubmission, "ConfirmSend", !file.existed());
    s.Cc = file.readString(kSubmission, "Cc", {});
    s.Bcc = file.readString(kSubmission, "Bcc", {});
    s.OAuthProvider = readChoice(file, "OAuthProvider", 2);
    s.OAuthClientId = file.readString(kSubmission, "OAuthClientId", {});
    s.OAuthAuthorizationUrl = file.readString(kSubmission, "OAuthAuthorizationUrl", {});
    s.OAuthTokenUrl = file.readString(kSubmission, "OAuthTokenUrl", {});
    s.OAuthScope = file.readString(kSubmission, "OAuthScope", {});
}

void Submission_Save(const Settings& s, ini::IniFile& file) {
    const Settings d;
    const bool oauthDefault = s.OAuthProvider == d.OAuthProvider && s.OAuthClientId.empty() &&
                              s.OAuthAuthorizationUrl.empty() && s.OAuthTokenUrl.empty() &&
                              s.OAuthScope.empty();
    const bool allDefault = s.Security == d.Security && s.Auth == d.Auth && s.Login == d.Login &&
                            s.SavePassword == d.SavePassword && s.TrustedCerts == d.TrustedCerts &&
                            s.Charset == d.Charset && oauthDefault && s.SkipRefused == d.SkipRefused &&
                            s.PerMinute == d.PerMinute && s.PauseEvery == d.PauseEvery &&
                            s.PauseSeconds == d.PauseSeconds && s.Retry == d.Retry &&
                            s.RetryTries == d.RetryTries && s.ConfirmSend == d.ConfirmSend &&
                            s.Cc.empty() && s.Bcc.empty();
    if (allDefault && !file.hasSection(kSubmission))
        return;
    file.writeInteger(kSubmission, "Security", s.Security);
    file.writeInteger(kSubmission, "Auth", s.Auth);
    file.writeString(kSubmission, "Login", s.Login);
    file.writeBool(kSubmission, "SavePassword", s.SavePassword);
    file.writeString(kSubmission, "TrustedCerts", s.TrustedCerts);
    file.writeInteger(kSubmission, "Charset", s.Charset);
    // The keys of a long run's conduct come later than the others: each is written only once it
    // differs from its default or the file has it, so that the section stays as it was for a
    // user who never touched them.
    const auto keep = [&file](const char* key, int value, int fallback) {
        if (value != fallback || file.readString(kSubmission, key, "\n") != "\n")
            file.writeInteger(kSubmission, key, value);
    };
    keep("SkipRefused", s.SkipRefused, d.SkipRefused);
    keep("PerMinute", s.PerMinute, d.PerMinute);
    keep("PauseEvery", s.PauseEvery, d.PauseEvery);
    keep("PauseSeconds", s.PauseSeconds, d.PauseSeconds);
    keep("Retry", s.Retry, d.Retry);
    keep("RetryTries", s.RetryTries, d.RetryTries);
    keep("ConfirmSend", s.ConfirmSend, d.ConfirmSend);
    for (const auto& [key, value] : {std::pair<const char*, const std::string&>("Cc", s.Cc),
                                     std::pair<const char*, const std::string&>("Bcc", s.Bcc)})
        if (!value.empty() || file.hasKey(kSubmission, key))
            file.writeString(kSubmission, key, value);
    // The OAuth keys come only with OAuth, so that a section written without them stays as it was.
    if (oauthDefault && !file.hasKey(kSubmission, "OAuthProvider"))
        return;
    file.writeInteger(kSubmission, "OAuthProvider", s.OAuthProvider);
    file.writeString(kSubmission, "OAuthClientId", s.OAuthClientId);
    file.writeString(kSubmission, "OAuthAuthorizationUrl", s.OAuthAuthorizationUrl);
    file.writeString(kSubmission, "OAuthTokenUrl", s.OAuthTokenUrl);
    file.writeString(kSubmission, "OAuthScope", s.OAuthScope);
}

const OAuthProviderDefaults* oauthProviderDefaults(int provider) {
    static const OAuthProviderDefaults microsoft{
        "https://login.microsoftonline.com/organizations/oauth2/v2.0/authorize",
        "https://login.microsoftonline.com/organizations/oauth2/v2.0/token",
        "https://outlook.office.com/SMTP.Send offline_access",
        "smtp.office365.com",
        587,
        1};
    static const OAuthProviderDefaults google{"https://accounts.google.com/o/oauth2/v2/auth",
                                              "https://oauth2.googleapis.com/token",
                                              "https://mail.google.com/",
                                              "smtp.gmail.com",
                                              465,
                                              2};
    switch (static_cast<OAuthProviderKind>(provider)) {
    case OAuthProviderKind::Microsoft365:
        return &microsoft;
    case OAuthProviderKind::Google:
        return &google;
    case OAuthProviderKind::Other:
        break;
    }
    return nullptr;
}

std::string oauthClientSecretKey(const Settings& s) {
    return "oauth-client:" + s.OAuthTokenUrl + ":" + s.OAuthClientId;
}

std::string oauthRefreshTokenKey(const Settings& s, std::string_view account) {
    return "oauth:" + s.OAuthTokenUrl + ":" + s.OAuthClientId + ":" + lowerAscii(account);
}

std::string trustedFingerprint(const Settings& s, std::string_view host, int port) {
    const std::string key = trustKey(host, port);
    for (const auto& [entryKey, fingerprint] : trustEntries(s.TrustedCerts))
        if (entryKey == key)
            return fingerprint;
    return {};
}

void setTrustedFingerprint(Settings& s, std::string_view host, int port,
                           std::string_view fingerprint) {
    const std::string key = trustKey(host, port);
    std::string list;
    for (const auto& [entryKey, old] : trustEntries(s.TrustedCerts)) {
        if (entryKey == key)
            continue;
        list += (list.empty() ? "" : ",") + entryKey + "=" + old;
    }
    list += (list.empty() ? "" : ",") + key + "=" + std::string(fingerprint);
    s.TrustedCerts = list;
}

} // namespace tessaly

namespace {

// Every key Settings_Save writes, in its order.
void writeSettings(ini::IniFile& file, const Settings& s) {
    const char* settei = "Settei";
    file.writeString(settei, "Host", s.Host);
    file.writeString(settei, "Port", s.Port);
    file.writeString(settei, "User", s.User);
    file.writeString(settei, "From", s.From);
    file.writeString(settei, "Reply", s.Reply);
    file.writeString(settei, "UserMei", s.UserMei);
    file.writeString(settei, "Syomei", s.Syomei);
    file.writeBool(settei, "ChkBox_Syomei", s.ChkBox_Syomei);
    file.writeBool(settei, "ChkBox_Atesaki", s.ChkBox_Atesaki);
    file.writeString(settei, "Keisyou", s.Keisyou);
    file.writeBool(settei, "ChkBox_EverySend", s.ChkBox_EverySend);
    file.writeString(settei, "EverySend", s.EverySend);
    file.writeString(settei, "Address", s.Address);
    file.writeBool(settei, "ChkBox_Log", s.ChkBox_Log);
    file.writeString(settei, "Log", s.Log);
    file.writeBool(settei, "ChkBox_SendData", s.ChkBox_SendData);
    file.writeString(settei, "SendData", s.SendData);
    const char* window = "Window";
    file.writeInteger(window, "Main_X", s.Main_X);
    file.writeInteger(window, "Main_Y", s.Main_Y);
    file.writeInteger(window, "Settei_X", s.Settei_X);
    file.writeInteger(window, "Settei_Y", s.Settei_Y);
    file.writeInteger(window, "Address_X", s.Address_X);
    file.writeInteger(window, "Address_Y", s.Address_Y);
    tessaly::Submission_Save(s, file);
}

// Every key of `file` after Settings_Save would have written the record into it (a section
// written only when the file has it must see the file).
std::vector<ini::IniFile::Entry> writtenEntries(const Settings& s, ini::IniFile file) {
    file.setWriteFilter({});
    writeSettings(file, s);
    return file.entries();
}

} // namespace

namespace tessaly {

std::string Settings_NoteIniRead(Settings& s, const ini::IniFile& loaded, const std::string& iniPathSjis) {
    s.iniUnreadable = loaded.unreadable();
    if (!s.iniUnreadable || s.iniUnreadableTold)
        return {};
    s.iniUnreadableTold = true;
    return "設定ファイル " + cp932::toUtf8(iniPathSjis) +
           " を読み込めませんでした。\r\n"
           "今回は初期設定で起動します。終了するときも、このファイルには書き込みません。\r\n"
           "ファイルを読み込めるようにしてから、Tessaly を起動し直してください。";
}

void Settings_HoldKey(Settings& s, std::string_view section, std::string_view key) {
    std::erase_if(s.heldKeys, [&](const Settings::HeldKey& held) {
        return ini::sameName(held.section, section) && ini::sameName(held.key, key);
    });
    for (ini::IniFile::Entry& entry : writtenEntries(s, ini::IniFile::fromBytes({}, {})))
        if (ini::sameName(entry.section, section) && ini::sameName(entry.key, key))
            s.heldKeys.push_back({std::move(entry.section), std::move(entry.key), std::move(entry.value), false});
}

void Settings_HoldUnread(Settings& s, const ini::IniFile& loaded) {
    const auto& keysRead = loaded.keysRead();
    std::vector<Settings::HeldKey> held;
    for (ini::IniFile::Entry& entry : writtenEntries(s, loaded)) {
        const bool read = std::any_of(keysRead.begin(), keysRead.end(), [&](const auto& k) {
            return ini::sameName(k.first, entry.section) && ini::sameName(k.second, entry.key);
        });
        if (read)
            continue;
        const bool position = ini::sameName(entry.section, "Window");
        held.push_back({std::move(entry.section), std::move(entry.key), std::move(entry.value), position});
    }
    s.heldKeys = std::move(held);
}

} // namespace tessaly

bool Settings_Save(const Settings& s, const std::string& startDirectory) {
    ini::IniFile file(cp932::pathFromSjis(tessaly::iniPath(startDirectory)));
    if (!s.heldKeys.empty()) {
        file.setWriteFilter([&s](std::string_view section, std::string_view key, std::string_view value) {
            return std::none_of(s.heldKeys.begin(), s.heldKeys.end(), [&](const Settings::HeldKey& held) {
                return ini::sameName(held.section, section) && ini::sameName(held.key, key) &&
                       (held.anyValue || held.value == value);
            });
        });
    }
    writeSettings(file, s);
    file.save();
    return true;
}

bool Settings_SaveOnClose(const Settings& s, const std::string& startDirectory) {
    if (s.iniUnreadable)
        return false;
    return Settings_Save(s, startDirectory);
}
