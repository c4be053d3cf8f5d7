// The Settings record: every user setting as TSY2.ini holds it, and the start directory the file
// and the default paths are formed from. Plain standard C++.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Every field is named by its INI key. Texts are Shift-JIS (code page 932) bytes, stored in the
// file as they are; paths among them become file-system paths through cp932::pathFromSjis.
// Before the first Settings_Load texts are empty, booleans false and positions 0.
//
// Who keeps what in step: Host, Port, User, From, Reply, UserMei and Address always equal the
// text of their control in TTSY_SetteiF. Syomei, Keisyou, EverySend, Log and SendData hold the
// last text accepted by switching their switch on (an edited text turns the switch off and leaves
// the field alone). Each ChkBox_ field equals its check box.
struct Settings {
    // section Settei
    std::string Host;
    std::string Port;
    std::string User;
    std::string From;
    std::string Reply;
    std::string UserMei;
    std::string Syomei;            // signature file path
    bool ChkBox_Syomei = false;
    bool ChkBox_Atesaki = false;
    std::string Keisyou;           // honorific
    bool ChkBox_EverySend = false;
    std::string EverySend;         // address of the notify copy (the send run reads it here)
    std::string Address;           // address book file path (the address book reads it here)
    bool ChkBox_Log = false;
    std::string Log;               // send log file path (SendLog_Load reads it here)
    bool ChkBox_SendData = false;
    std::string SendData;          // sent-data file path
    // section Window: left and top of the windows, in screen pixels
    int Main_X = 0;
    int Main_Y = 0;
    int Settei_X = 0;
    int Settei_Y = 0;
    int Address_X = 0;
    int Address_Y = 0;
    // section Submission: what goes beyond the plain exchange, every part off by default. It is
    // written only once it holds something else, so that a TSY2.ini of a user who never opens
    // "送信サーバーの詳細" stays as it was.
    int Security = 0;              // 0 none, 1 STARTTLS, 2 SSL/TLS from the first byte
    int Auth = 0;                  // 0 no login, 1 SMTP AUTH with a password, 2 OAuth 2.0 (sign-in
                                   // in the browser; Login is then the account's mail address)
    std::string Login;             // login name (ASCII); User stays the name in the greeting
    bool SavePassword = true;      // keep the password in the system keyring (never in this file)
    std::string TrustedCerts;      // certificates the user chose to trust: "host:port=sha256hex"
                                   // entries separated by ","
    int Charset = 0;               // 0 ISO-2022-JP, 1 UTF-8 only where ISO-2022-JP cannot, 2 UTF-8
    // How a long run keeps going ("宛先エラーでも続ける", "送信間隔", "一時的なエラーで再試行").
    bool SkipRefused = false;      // a recipient refused with 5xx is listed and the run goes on
    int PerMinute = 0;             // at most this many messages a minute; 0 no limit
    int PauseEvery = 0;            // a pause after every this many messages; 0 none
    int PauseSeconds = 60;         // the length of that pause
    bool Retry = false;            // wait and try again after a temporary failure
    int RetryTries = 3;            // tries after the first one, for one recipient
    // "送信前に確認する": the run asks first, naming the count and the server. On in a TSY2.ini
    // made at the first start; an older file without the key keeps sending at once.
    bool ConfirmSend = false;
    // Copies every message of a run goes to: "CC" in its header, "BCC" in the envelope only.
    // Addresses separated by "," or ";"; none when empty.
    std::string Cc;
    std::string Bcc;
    // OAuth 2.0: the provider and the application registration of the user's organisation. The
    // endpoints and scope are filled in for the known providers and typed for others. A client
    // secret, where the registration has one, and the refresh token live in the keyring.
    int OAuthProvider = 0;         // 0 Microsoft 365, 1 Google, 2 another
    std::string OAuthClientId;
    std::string OAuthAuthorizationUrl;
    std::string OAuthTokenUrl;
    std::string OAuthScope;

    // A key Settings_Save leaves as TSY2.ini holds it.
    struct HeldKey {
        std::string section;
        std::string key;
        std::string value; // ... as long as the record would still write this value
        bool anyValue = false; // ... whatever the record holds
    };
    // Values of this session that did not come from the user and must not replace what the file
    // holds: the keys a Settings_Load that stopped at a failing step never reached, and paths
    // turned off for this session after their file could not be read. A change by the user (a
    // value other than the one held) is written as usual. A Settings_Load that runs to its end
    // empties the list.
    std::vector<HeldKey> heldKeys;
    // TSY2.ini was there at the last Settings_Load but could not be read (no permission, or no
    // plain file): the record holds defaults, not what the file holds, and the close must not
    // write them over it. Told tells whether the user has been told so in this session.
    bool iniUnreadable = false;
    bool iniUnreadableTold = false;
};

namespace ini {
class IniFile;
}

namespace tessaly {

// Values a missing key gives (Shift-JIS bytes). The paths are StartDirectory + the name.
// The host is a pattern to fill in, not a server that could be taken for the user's own.
inline constexpr std::string_view DefaultHost = "smtp.\x81\x9b\x81\x9b\x81\x9b.ne.jp"; // smtp.○○○.ne.jp
inline constexpr std::string_view DefaultPort = "25";
inline constexpr std::string_view DefaultKeisyou = "\x97\x6c"; // 様
inline constexpr std::string_view IniFileName = "/TSY2.ini";
inline constexpr std::string_view DefaultAddressName = "/Address.csv";
inline constexpr std::string_view DefaultLogName = "/Log.txt";
inline constexpr std::string_view DefaultSendDataName = "/SendData.txt";

// The Submission section: its values as TSY2.ini holds them. A value out of range reads as the
// default; the section is written after the others, and only when the file already has it or
// one of its values differs from the default.
void Submission_Load(Settings& settings, const ini::IniFile& file);
void Submission_Save(const Settings& settings, ini::IniFile& file);

// The OAuth provider choices, in the order of OAuthProvider.
enum class OAuthProviderKind { Microsoft365, Google, Other };
struct OAuthProviderDefaults {
    const char* AuthorizationUrl;
    const char* TokenUrl;
    const char* Scope;
    const char* Host;
    int Port;
    int Security; // as Settings::Security
};
// What choosing a known provider fills in; nullptr for Other.
const OAuthProviderDefaults* oauthProviderDefaults(int provider);

// The keyring keys of an OAuth registration's client secret and of an account's refresh token.
std::string oauthClientSecretKey(const Settings& settings);
std::string oauthRefreshTokenKey(const Settings& settings, std::string_view account);

// The fingerprint stored for `host`:`port` in TrustedCerts, "" when there is none. Host names
// compare without regard to case.
std::string trustedFingerprint(const Settings& settings, std::string_view host, int port);
// Stores (or replaces) the fingerprint trusted for `host`:`port`.
void setTrustedFingerprint(Settings& settings, std::string_view host, int port,
                           std::string_view fingerprint);

// StartDirectory from a working directory given as Shift-JIS bytes: one trailing "/" removed,
// so the root directory "/" gives "" and IniPath then gives "/TSY2.ini".
std::string startDirectoryOf(std::string_view cwdSjis);
// StartDirectory of this process (Shift-JIS bytes), read once by the main window when it is
// created. Throws tessaly::Error naming the character when the working directory holds one that
// code page 932 cannot hold (no stored path could then name it).
std::string currentStartDirectory();
// StartDirectory + "/TSY2.ini" (Shift-JIS bytes).
std::string iniPath(const std::string& startDirectory);

// After Settings_Load has read (or failed to read) `loaded`: records whether TSY2.ini could be
// read, and gives the message to show when it could not and the user has not been told yet in
// this session (UTF-8); otherwise an empty text.
std::string Settings_NoteIniRead(Settings& settings, const ini::IniFile& loaded,
                                 const std::string& iniPathSjis);

// Holds `section`/`key` at the value the record now gives it (see Settings::heldKeys).
void Settings_HoldKey(Settings& settings, std::string_view section, std::string_view key);
// After a Settings_Load that stopped early, given the file it was reading: holds every key that
// Settings_Save would write into that file and that the load did not read. The windows were not
// placed either, so the positions in section Window are held whatever the windows do later.
void Settings_HoldUnread(Settings& settings, const ini::IniFile& loaded);

} // namespace tessaly

// Writes every field of the record (never the controls) to StartDirectory/TSY2.ini: section
// Settei Host .. SendData, then section Window Main_X .. Address_Y, then section Submission as
// Submission_Save decides; other sections, keys and comment lines are kept, and so are the
// record's held keys (Settings::heldKeys) while the record still gives them their held value.
// The file is replaced atomically: on failure it throws
// tessaly::FileError "<path> に書き込めません" and the old file stays as it was. Returns true.
// Callers: the settings window's Save, and the main window's close query (after copying its left
// and top into Main_X/Main_Y).
bool Settings_Save(const Settings& settings, const std::string& startDirectory);
// The save of the main window's close: Settings_Save, except that a TSY2.ini the last
// Settings_Load could not read is left alone (the user was told at the start); false then.
bool Settings_SaveOnClose(const Settings& settings, const std::string& startDirectory);
