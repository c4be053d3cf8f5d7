// What a send run works from, taken once when the user presses send: the mail as it left the
// widgets (code page 932 bytes) and every setting the run reads. Reconnects, retries, the notify
// copy and the test send all use these values, so an edit in the settings window during a run
// changes only the next run.
#pragma once

#include "sending/attachments.h"
#include "smtp/message_builder.h"
#include "smtp/oauth_signin.h"
#include "smtp/run_messages.h"
#include "smtp/smtp_client.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

struct Settings;

namespace tessaly {

struct RunMail {
    std::string subjectSjis;                 // as typed, not trimmed
    std::vector<std::string> bodyLinesSjis;  // the body field's lines as typed (the checks name them)
    std::vector<std::string> bodyShownSjis;  // its lines as it shows them, wrapped pieces each a
                                             // line: what every message carries
    std::vector<std::string> recipientsSjis; // the list when the user pressed send
    std::vector<QString> recipientSources;   // where each entry came from (a check names it);
                                             // may be shorter than the list
    std::vector<AttachedFile> attachments;   // each file as it was when added
    // With a merge table: each recipient's own message, one per entry of recipientsSjis, made
    // from the texts above; empty when every recipient gets the same one.
    std::vector<RecipientMessage> own;
    // Each row's own files (own[i].attachmentPathsSjis) as ReadOwnFiles found them; a row's
    // message reads them again when it is built, so that only one row's files are held at once.
    std::vector<std::vector<AttachedFile>> ownFiles;
    // The merge table's file name; empty for a run without a table.
    std::string tableNameSjis;
};

// Fills mail.ownFiles: every row's files checked and read through once before anything is sent,
// a file named by several rows once. Raises Error naming the first file that cannot be sent.
void ReadOwnFiles(RunMail& mail);
// The files recipient `index`'s message carries besides the run's; none for an unmerged one.
// Raises Error when the row names files ReadOwnFiles did not read: they would go missing.
const std::vector<AttachedFile>& OwnFilesOf(const RunMail& mail, std::size_t index);

// Where an entry of the recipient list came from, as the checks name it.
QString RecipientSourceOf(const RunMail& mail, std::size_t index);

// How a long run keeps going.
struct RunConduct {
    bool skipRefused = false; // a recipient refused with 5xx is listed and the run goes on
    bool retry = false;       // wait and try again after a temporary failure
    int tries = 3;
    int perMinute = 0;        // 0: no limit
    int pauseEvery = 0;       // 0: no pause
    std::chrono::milliseconds pause = std::chrono::seconds(60);
    std::chrono::milliseconds firstRetryWait = std::chrono::seconds(30);
};

enum class RunLogin { None, Password, OAuth };

struct RunSettings {
    std::string hostSjis;
    std::string portSjis; // as typed
    int port = -1;        // portSjis as a number; -1 when it is none (the run refuses to connect)
    std::string userIdSjis;
    std::string fromSjis;
    std::string replySjis;
    std::string userMeiSjis;
    bool atesaki = false;
    std::string keisyouSjis;
    bool logOn = false;
    std::string logPathSjis;
    bool sendDataOn = false;
    std::string sendDataPathSjis;
    bool everySendOn = false;
    std::string everySendSjis; // trimmed
    // "送信サーバーの詳細"
    MessageCharset charset = MessageCharset::Iso2022Jp;
    SmtpSecurity security = SmtpSecurity::None;
    RunLogin login = RunLogin::None;
    std::string loginName;          // ASCII; for OAuth the account (the sender's when none typed)
    bool savePassword = true;
    std::string trustedFingerprint; // the certificate trusted for host and port; "" none
    OAuthRegistration oauth;        // without its client secret, which the keyring holds
    std::string oauthClientSecretKey;
    std::string oauthRefreshTokenKey;
    RunConduct conduct;
    // The copies every message of the run goes to besides a row's own.
    std::vector<std::string> cc;
    std::vector<std::string> bcc;
    // Where the run journal goes when the send log is off.
    std::string startDirectorySjis;
    // The host name is resolved before the run, as a yes-or-no check.
    bool hostCheck = true;
};

// The run's settings from values that are all as the Settings record holds them; the owner puts
// the settings window's present texts into `values` first.
RunSettings RunSettingsOf(const Settings& values, std::string startDirectorySjis, bool hostCheck);

// What every message of the run shares: the sender, the Subject, the body as shown.
MessageTexts MessageTextsOf(const RunMail& mail, const RunSettings& settings);
// The addressee of recipient `index`'s message sent at `time`: its address, the addressee line
// when the settings put one, and the copies of a merged message in "Cc".
MessageAddressee AddresseeFor(const RunMail& mail, const RunSettings& settings, std::size_t index,
                              const LocalTime& time);
// Recipient `index`'s message sent at `time`, from the run's builder: a merged row's own Subject
// and body with the run's files, or the message every recipient shares.
WireMessage MessageFor(const MessageBuilder& builder, const RunMail& mail, const RunSettings& settings,
                       std::size_t index, const LocalTime& time);
// "（CC: a, BCC: b）" after a merged recipient's entry in the notify copy; empty without copies.
std::string CopiesText(const RecipientMessage& own);
// The same for entry `index` of the run: the settings' copies first, then a merged row's.
std::string CopiesText(const RunMail& mail, const RunSettings& settings, std::size_t index);
// The lines a run's journal identity is made of besides the Subject and the recipients: the
// converted body, and for a merged mail every row's own texts, copies and files, so that a
// changed table is another run.
std::vector<std::string> IdentityLines(const RunMail& mail, const std::vector<std::string>& bodyJis);
// What the sent-data file keeps of a table run besides the body as typed: the table's file name
// and the Subject with its fields. None for a run without a table, whose record is the body alone.
std::vector<std::string> SentDataHead(const RunMail& mail);
// Every address recipient `index`'s message goes to: the recipient, the copies, the blind copies
// (the settings' before a row's own).
std::vector<std::string> EnvelopeFor(const RunMail& mail, const RunSettings& settings, std::size_t index);

} // namespace tessaly
