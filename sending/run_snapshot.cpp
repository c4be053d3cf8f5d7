#include "sending/run_snapshot.h"

#include "common/errors.h"
#include "common/sjis_bytes.h"
#include "common/text.h"
#include "settings/settings.h"
#include "smtp/run_messages.h"

#include <charconv>
#include <map>

namespace tessaly {

namespace {

int portNumber(const std::string& digits) {
    int port = -1;
    const char* end = digits.data() + digits.size();
    const auto [stop, ec] = std::from_chars(digits.data(), end, port);
    return ec == std::errc() && stop == end && !digits.empty() ? port : -1;
}

SmtpSecurity securityOf(int setting) {
    switch (setting) {
    case 1: return SmtpSecurity::StartTls;
    case 2: return SmtpSecurity::ImplicitTls;
    default: return SmtpSecurity::None;
    }
}

RunLogin loginOf(int setting) {
    switch (setting) {
    case 1: return RunLogin::Password;
    case 2: return RunLogin::OAuth;
    default: return RunLogin::None;
    }
}

// "a@x, b@y; c@z" as its addresses, each trimmed.
std::vector<std::string> addressList(const std::string& list) {
    std::vector<std::string> addresses;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find_first_of(",;", start);
        if (end == std::string::npos)
            end = list.size();
        const std::string_view one = trimBlanks(std::string_view(list).substr(start, end - start));
        if (!one.empty())
            addresses.emplace_back(one);
        start = end + 1;
    }
    return addresses;
}

// The settings' copies followed by a merged row's.
RecipientMessage copiesFor(const RunMail& mail, const RunSettings& settings, std::size_t index) {
    RecipientMessage copies;
    copies.cc = settings.cc;
    copies.bcc = settings.bcc;
    if (index < mail.own.size()) {
        copies.cc.insert(copies.cc.end(), mail.own[index].cc.begin(), mail.own[index].cc.end());
        copies.bcc.insert(copies.bcc.end(), mail.own[index].bcc.begin(), mail.own[index].bcc.end());
    }
    return copies;
}

} // namespace

RunSettings RunSettingsOf(const Settings& v, std::string startDirectorySjis, bool hostCheck) {
    RunSettings s;
    s.hostSjis = v.Host;
    s.portSjis = v.Port;
    s.port = portNumber(v.Port);
    s.userIdSjis = v.User;
    s.fromSjis = v.From;
    s.replySjis = v.Reply;
    s.userMeiSjis = v.UserMei;
    s.atesaki = v.ChkBox_Atesaki;
    s.keisyouSjis = v.Keisyou;
    s.logOn = v.ChkBox_Log;
    s.logPathSjis = v.ChkBox_Log ? v.Log : std::string();
    s.sendDataOn = v.ChkBox_SendData;
    s.sendDataPathSjis = v.ChkBox_SendData ? v.SendData : std::string();
    s.everySendOn = v.ChkBox_EverySend;
    s.everySendSjis = std::string(trimBlanks(v.EverySend));
    s.charset = MessageCharsetFromSetting(v.Charset);
    s.security = securityOf(v.Security);
    s.login = loginOf(v.Auth);
    if (s.login != RunLogin::None)
        s.loginName = v.Login;
    // An OAuth login names the account the token belongs to; without one typed, the sender's.
    if (s.login == RunLogin::OAuth && s.loginName.empty())
        s.loginName = v.From;
    s.savePassword = v.SavePassword;
    if (s.port >= 0)
        s.trustedFingerprint = trustedFingerprint(v, v.Host, s.port);
    s.oauth = {v.OAuthAuthorizationUrl, v.OAuthTokenUrl, v.OAuthScope, v.OAuthClientId, {}};
    s.oauthClientSecretKey = oauthClientSecretKey(v);
    s.oauthRefreshTokenKey = oauthRefreshTokenKey(v, s.loginName);
    s.conduct.skipRefused = v.SkipRefused;
    s.conduct.retry = v.Retry;
    s.conduct.tries = v.RetryTries;
    s.conduct.perMinute = v.PerMinute;
    s.conduct.pauseEvery = v.PauseEvery;
    s.conduct.pause = std::chrono::seconds(v.PauseSeconds);
    s.cc = addressList(v.Cc);
    s.bcc = addressList(v.Bcc);
    s.startDirectorySjis = std::move(startDirectorySjis);
    s.hostCheck = hostCheck;
    return s;
}

MessageTexts MessageTextsOf(const RunMail& mail, const RunSettings& settings) {
    MessageTexts texts;
    texts.fromAddress = settings.fromSjis;
    texts.fromNameSjis = settings.userMeiSjis;
    texts.replyTo = settings.replySjis;
    texts.localProgram = std::string(MailerName);
    texts.subjectSjis = mail.subjectSjis;
    texts.bodySjis = mail.bodyShownSjis;
    return texts;
}

} // namespace tessaly

namespace tessaly {

QString RecipientSourceOf(const RunMail& mail, std::size_t index) {
    if (index < mail.recipientSources.size() && !mail.recipientSources[index].isEmpty())
        return mail.recipientSources[index];
    return QStringLiteral("宛先一覧");
}

MessageAddressee AddresseeFor(const RunMail& mail, const RunSettings& settings, std::size_t index,
                              const LocalTime& time) {
    const RecipientParts parts = SplitRecipient(mail.recipientsSjis.at(index));
    MessageAddressee addressee = AddresseeOf(parts.address, settings.fromSjis, time);
    if (settings.atesaki)
        addressee.addresseeLineSjis = AddresseeLine(parts.addresseeName, settings.keisyouSjis);
    const auto add = [&](const std::vector<std::string>& copies) {
        for (const std::string& cc : copies) {
            if (!addressee.cc.empty())
                addressee.cc += ", ";
            addressee.cc += cc;
        }
    };
    add(settings.cc);
    if (index < mail.own.size())
        add(mail.own[index].cc);
    return addressee;
}

void ReadOwnFiles(RunMail& mail) {
    std::map<std::string, AttachedFile> read;
    mail.ownFiles.assign(mail.own.size(), {});
    for (std::size_t i = 0; i < mail.own.size(); ++i) {
        for (const std::string& path : mail.own[i].attachmentPathsSjis) {
            auto found = read.find(path);
            if (found == read.end())
                found = read.emplace(path, ReadThroughFileOf(path)).first;
            mail.ownFiles[i].push_back(found->second);
        }
    }
}

const std::vector<AttachedFile>& OwnFilesOf(const RunMail& mail, std::size_t index) {
    static const std::vector<AttachedFile> none;
    if (index >= mail.own.size() || mail.own[index].attachmentPathsSjis.empty())
        return none;
    if (index >= mail.ownFiles.size() ||
        mail.ownFiles[index].size() != mail.own[index].attachmentPathsSjis.size())
        throw Error(QStringLiteral("%1 件目の添付ファイルを確かめられませんでした。もう一度送信してください。")
                        .arg(index + 1)
                        .toStdString());
    return mail.ownFiles[index];
}

WireMessage MessageFor(const MessageBuilder& builder, const RunMail& mail, const RunSettings& settings,
                       std::size_t index, const LocalTime& time) {
    const MessageAddressee addressee = AddresseeFor(mail, settings, index, time);
    if (index >= mail.own.size())
        return builder.build(addressee);
    // A row's Subject and body go as the row has them, the body lines it shares with the run's
    // as the run's builder converted them; its own files are read here, after the run's, and
    // are let go with the message.
    const RecipientMessage& own = mail.own[index];
    return builder.buildOwn(addressee, own.subjectSjis, own.bodyShownSjis,
                            WithOwnAttachments(builder.texts().attachments, OwnFilesOf(mail, index),
                                               own.bodyShownSjis));
}

std::string CopiesText(const RecipientMessage& own) {
    std::string text;
    const auto list = [&](const char* name, const std::vector<std::string>& addresses) {
        if (addresses.empty())
            return;
        text += text.empty() ? "" : ", ";
        text += name;
        for (std::size_t i = 0; i < addresses.size(); ++i)
            text += (i ? " " : "") + addresses[i];
    };
    list("CC: ", own.cc);
    list("BCC: ", own.bcc);
    return text.empty() ? text : "\x81\x69" + text + "\x81\x6a"; // "（" ... "）"
}

std::string CopiesText(const RunMail& mail, const RunSettings& settings, std::size_t index) {
    return CopiesText(copiesFor(mail, settings, index));
}

std::vector<std::string> IdentityLines(const RunMail& mail, const std::vector<std::string>& bodyJis) {
    std::vector<std::string> lines;
    lines.reserve(bodyJis.size() + mail.own.size());
    lines.insert(lines.end(), bodyJis.begin(), bodyJis.end());
    for (std::size_t i = 0; i < mail.own.size(); ++i) {
        const RecipientMessage& own = mail.own[i];
        // One separator byte no text holds keeps the parts of one row from running together.
        const auto parts = {&own.bodyShownSjis, &own.cc, &own.bcc, &own.attachmentPathsSjis};
        std::size_t size = own.subjectSjis.size() + parts.size();
        for (const auto* part : parts)
            for (const std::string& line : *part)
                size += line.size() + 1;
        std::string row;
        row.reserve(size);
        row += own.subjectSjis;
        for (const auto* part : parts) {
            row += '\x1f';
            for (const std::string& line : *part) {
                row += line;
                row += '\x1e';
            }
        }
        // A file changed since the stopped run makes other messages: another run.
        for (const AttachedFile& file : OwnFilesOf(mail, i))
            row += '\x1f' + AttachmentNameOf(file.pathSjis) + '\x1e' + std::to_string(file.size) +
                   '\x1e' + file.sha256;
        lines.push_back(std::move(row));
    }
    return lines;
}

std::vector<std::string> EnvelopeFor(const RunMail& mail, const RunSettings& settings, std::size_t index) {
    std::vector<std::string> to{SplitRecipient(mail.recipientsSjis.at(index)).address};
    const RecipientMessage copies = copiesFor(mail, settings, index);
    to.insert(to.end(), copies.cc.begin(), copies.cc.end());
    to.insert(to.end(), copies.bcc.begin(), copies.bcc.end());
    return to;
}

std::vector<std::string> SentDataHead(const RunMail& mail) {
    if (mail.tableNameSjis.empty())
        return {};
    return {toSjis(QStringLiteral("差し込みデータ："), {}) + mail.tableNameSjis,
            toSjis(QStringLiteral("件名："), {}) + mail.subjectSjis};
}

} // namespace tessaly
