#include "smtp/smtp_client.h"

#include "smtp/sasl_oauth.h"

#include "common/cp932.h"
#include "common/errors.h"
#include "common/secret_store.h"
#include "smtp/sasl.h"

#include <QBuffer>
#include <QFile>
#include <QString>
#include <QTime>
#include <algorithm>
#include <cctype>
#include <cstring>

namespace tessaly {

namespace {

const std::string kCrLf = "\r\n";

// Restores the previous Busy state when the operation ends, whichever way.
class BusyScope {
public:
    explicit BusyScope(bool& busy) : m_busy(busy), m_previous(busy) { m_busy = true; }
    ~BusyScope() { m_busy = m_previous; }
    void end() { m_busy = m_previous; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& m_busy;
    bool m_previous;
};

std::string join(const std::vector<std::string>& list, char separator) {
    std::string out;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0)
            out += separator;
        out += list[i];
    }
    return out;
}

void appendLine(QByteArray& to, std::string_view line) {
    to.append(line.data(), static_cast<qsizetype>(line.size()));
    to.append("\r\n", 2);
}

// The header goes out whole, whatever its length, followed by CR LF twice.
QByteArray headerBlock(const TExStringList& header) {
    return QByteArray::fromStdString(header.Text() + kCrLf + kCrLf);
}

void appendBodyLines(QByteArray& to, const std::vector<std::string>& body) {
    qsizetype size = to.size();
    for (const std::string& line : body)
        size += static_cast<qsizetype>(line.size()) + 3;
    to.reserve(size); // one allocation per message at most, none once the stream has grown
    for (const std::string& line : body) {
        // A line starting with "." gets one more, so that no body line can end the data early.
        if (!line.empty() && line.front() == '.')
            to.append('.');
        appendLine(to, line);
    }
}

// Sets a flag for the duration of a scope.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~FlagScope() { m_flag = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
};

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        if (end > at)
            out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

std::string fileNamePart(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\:/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

QByteArray sharedBytes(const std::shared_ptr<const std::string>& text) {
    // The run's one copy, read where it lies; the message that holds the pointer outlives the send.
    return text ? QByteArray::fromRawData(text->data(), static_cast<qsizetype>(text->size()))
                : QByteArray();
}

// What follows a message's text part: each file's part and the closing boundary. No line here
// starts with ".", so none needs stuffing. `base64LinesShown` cuts each file's text short.
std::vector<QByteArray> attachmentPieces(const WireMessage& message,
                                         std::size_t base64LinesShown = AllBase64Lines) {
    std::vector<QByteArray> pieces;
    if (message.boundary.empty())
        return pieces;
    for (const WireMessage::Attachment& part : message.attachments) {
        QByteArray head;
        appendLine(head, "--" + message.boundary);
        for (const std::string& line : part.header)
            appendLine(head, line);
        appendLine(head, "");
        pieces.push_back(std::move(head));
        QByteArray base64 = sharedBytes(part.base64);
        const std::size_t lines = static_cast<std::size_t>(base64.count('\n'));
        if (lines > base64LinesShown) {
            base64 = base64.left(static_cast<qsizetype>(base64LinesShown * 78));
            appendLine(base64, "[" + std::to_string(lines - base64LinesShown) + " lines of Base64]");
        }
        pieces.push_back(std::move(base64));
    }
    QByteArray close;
    appendLine(close, "--" + message.boundary + "--");
    pieces.push_back(std::move(close));
    return pieces;
}

// Several byte arrays read as one stream, none of them copied: a message's text and the files
// every message of the run shares go to the socket in pieces.
class PiecesDevice : public QIODevice {
public:
    explicit PiecesDevice(std::vector<QByteArray> pieces) : m_pieces(std::move(pieces)) {
        for (const QByteArray& piece : m_pieces)
            m_size += piece.size();
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_size; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        qint64 at = pos();
        qint64 done = 0;
        qint64 start = 0;
        for (const QByteArray& piece : m_pieces) {
            const qint64 end = start + piece.size();
            if (at < end && done < maxSize) {
                const qint64 n = std::min(end - at, maxSize - done);
                std::memcpy(data + done, piece.constData() + (at - start), static_cast<std::size_t>(n));
                done += n;
                at += n;
            }
            start = end;
        }
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::vector<QByteArray> m_pieces;
    qint64 m_size = 0;
};

} // namespace

QByteArray MessageData(const WireMessage& message, std::size_t base64LinesShown) {
    TExStringList header;
    for (const std::string& line : message.header)
        header.Add(line);
    QByteArray data = headerBlock(header);
    for (const std::string& line : message.body)
        appendLine(data, line);
    for (const QByteArray& piece : attachmentPieces(message, base64LinesShown))
        data += piece;
    return data;
}

std::string ExtractField(std::string_view text, char separator, int n) {
    if (n < 1)
        return {};
    std::size_t start = 0;
    for (int piece = 1; piece < n; ++piece) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos)
            return {};
        start = at + 1;
    }
    const std::size_t end = text.find(separator, start);
    return std::string(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
}

TSmtpClient::TSmtpClient(QObject* parent) : TSocketBase(parent) {
    Port = 25;
    // Data arriving after a cancel belongs to the abandoned exchange: drop it with the connection.
    m_abortHook = [this] { DropConnection(); };
}

TSmtpClient::~TSmtpClient() {
    WipeSecret(Password); // set but never used by a Connect
    m_destroying = true;
    try {
        Abort();
    } catch (...) {
        // Nothing may escape a destructor.
    }
}

std::string TSmtpClient::ExtractAddress(const std::string& entry) {
    if (entry.find('<') != std::string::npos)
        return ExtractField(ExtractField(entry, '<', 2), '>', 1);
    if (entry.find(':') == std::string::npos)
        return entry;
    return ExtractField(entry, ':', 2);
}

void TSmtpClient::SkipContinuationLines(std::string& reply) {
    if (const SocketFailure f = skipContinuation(reply))
        f.Raise();
}

void TSmtpClient::Connect() {
    BusyScope busy(m_busy);
    // The password serves this one login: it does not stay in memory, whatever happens below.
    const WipeOnExit wipePassword(Password);
    FlagScope connecting(m_connecting);
    CheckOneLine("UserID", UserID);
    m_extensions.clear();
    SocketKind = Security == SmtpSecurity::None ? SocketType::Plain : SocketType::Tls;
    TSocketBase::Connect();
    try {
        if (extended())
            greetExtended();
        else
            greetPlain();
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
    busy.end();
    m_connecting = false;
    if (OnConnect)
        OnConnect(this);
}

// The plain greeting: the server's lines read to the last one, then HELO, asked again once when
// the owner repairs the name.
void TSmtpClient::greetPlain() {
    std::string greeting = ReadLn();
    SetReplyNumber(ReplyCode(greeting));
    SkipContinuationLines(greeting);
    if (ReplyNumber() >= 400)
        throw Error(greeting);
    for (int retry = 0;; ++retry) {
        CheckOneLine("UserID", UserID);
        std::string reply = Transaction("HELO " + UserID);
        SkipContinuationLines(reply);
        if (ReplyNumber() <= 299)
            break;
        bool handled = false;
        if (retry == 0 && OnAuthenticationFailed)
            OnAuthenticationFailed(handled);
        if (!handled)
            throw Error("Authentication failed");
    }
}

// The extended greeting: TLS first when it is asked for from the first byte, EHLO, STARTTLS and
// EHLO again, then the login. Nothing goes out in plain text once protection was asked for.
void TSmtpClient::greetExtended() {
    if (Security == SmtpSecurity::ImplicitTls)
        StartTls(TrustedFingerprint);
    const SmtpReply greeting = ReadReply(SmtpStep::Greeting);
    if (greeting.Code >= 400)
        throw RefusedError(std::string(StepName(greeting.Step)) + ": サーバーが接続を断りました。\n" + greeting.Text(),
                            greeting);
    hello();
    if (Security == SmtpSecurity::StartTls) {
        if (std::find(m_extensions.begin(), m_extensions.end(), "STARTTLS") == m_extensions.end())
            throw Error("TLS: サーバーが STARTTLS に対応していないため、何も送らずに中止しました。"
                        "接続の保護の設定（SSL/TLS とポート 465 など）を確かめてください。");
        const SmtpReply reply = Command("STARTTLS", SmtpStep::StartTls);
        if (reply.Code != 220)
            throw RefusedError("TLS: サーバーが STARTTLS を断りました。\n" + reply.Text(), reply);
        StartTls(TrustedFingerprint);
        hello();
    }
    if (UseAuth)
        login();
    m_transactionMayBeOpen = false;
}

void TSmtpClient::hello() {
    CheckOneLine("UserID", UserID);
    const SmtpReply reply = Command("EHLO " + UserID, SmtpStep::Hello);
    if (reply.Code < 200 || reply.Code > 299)
        throw RefusedError("接続: サーバーが EHLO を受け付けません。接続の保護と SMTP 認証には EHLO が必要です。\n" +
                                reply.Text(),
                            reply);
    m_extensions.clear();
    const std::vector<std::string> texts = reply.Texts();
    for (std::size_t i = 1; i < texts.size(); ++i) {
        const std::size_t blank = texts[i].find(' ');
        m_extensions.push_back(upper(texts[i].substr(0, blank)) +
                               (blank == std::string::npos ? std::string() : texts[i].substr(blank)));
    }
}

void TSmtpClient::login() {
    // A password crosses the network only encrypted; a server on this machine is the exception.
    if (!Encrypted() && !PeerIsLoopback())
        throw Error("認証: 暗号化されていない接続ではパスワードを送りません。"
                    "接続の保護を STARTTLS か SSL/TLS にしてください。");
    CheckOneLine("LoginName", LoginName);
    std::vector<std::string> offered;
    for (const std::string& extension : m_extensions)
        if (extension.rfind("AUTH ", 0) == 0)
            for (const std::string& name : words(extension.substr(5)))
                offered.push_back(upper(name));
    if (OAuthToken) {
        loginWithToken(offered);
        return;
    }
    const std::unique_ptr<SaslMechanism> mechanism = ChooseSaslMechanism(offered, LoginName, Password);
    if (!mechanism)
        throw Error("認証: サーバーが PLAIN と LOGIN のどちらの認証方式にも対応していません。");
    const SmtpReply reply = authenticate(*mechanism);
    if (reply.Code != 235)
        throw AuthError(
            "認証: サーバーがログインを断りました。ログイン名とパスワードを確かめてください。\n" +
                reply.Text(),
            reply);
}

void TSmtpClient::loginWithToken(const std::vector<std::string>& offered) {
    std::string token;
    const WipeOnExit wipeToken(token);
    // A token refused at once may have expired early or been revoked: one fresh one is tried.
    for (int attempt = 0;; ++attempt) {
        token = OAuthToken(m_renewToken || attempt > 0);
        m_renewToken = false;
        CheckOneLine("OAuth token", token);
        const std::unique_ptr<OAuthMechanism> mechanism =
            ChooseOAuthMechanism(offered, LoginName, token, Host, Port);
        if (!mechanism)
            throw Error(
                "認証: サーバーが XOAUTH2 と OAUTHBEARER のどちらの認証方式にも対応していません。"
                "SMTP 認証の種類を確かめてください。");
        const SmtpReply reply = authenticate(*mechanism);
        if (reply.Code == 235)
            return;
        if (attempt > 0) {
            const std::string said = mechanism->ServerError().empty()
                                         ? std::string()
                                         : "（" + mechanism->ServerError() + "）";
            throw AuthError(
                "認証: サーバーがトークンを受け付けませんでした" + said +
                    "。ログイン名がサインインしたアカウントのメールアドレスか確かめてください。\n" +
                    reply.Text(),
                reply);
        }
    }
}

SmtpReply TSmtpClient::authenticate(SaslMechanism& mechanism) {
    // Lines carrying the secret go out through buffers that are wiped after sending.
    auto sendSecret = [this](QByteArray& line) {
        line.append("\r\n", 2);
        Status(ReportSteps, "Write");
        try {
            WriteAll(line);
        } catch (...) {
            WipeSecret(line);
            throw;
        }
        WipeSecret(line);
    };
    QByteArray response;
    QByteArray line = QByteArray("AUTH ") + mechanism.Name();
    if (mechanism.InitialResponse(response)) {
        QByteArray encoded = response.isEmpty() ? QByteArray("=") : response.toBase64();
        line += ' ';
        line += encoded;
        WipeSecret(encoded);
    }
    WipeSecret(response);
    sendSecret(line);
    SmtpReply reply = ReadReply(SmtpStep::Auth);
    // Bounded: the known mechanisms answer at most two challenges; a server asking on is cancelled,
    // and one that goes on asking after that is given up.
    for (int round = 0; reply.Code == 334 && round < 8; ++round) {
        const std::vector<std::string> texts = reply.Texts();
        const QByteArray challenge = QByteArray::fromBase64(QByteArray::fromStdString(texts.back()));
        if (round < 4 && mechanism.Respond(challenge, response)) {
            line = response.toBase64();
            WipeSecret(response);
        } else {
            line = "*";
        }
        sendSecret(line);
        reply = ReadReply(SmtpStep::Auth);
    }
    return reply;
}

void TSmtpClient::Disconnect() {
    ClearCanceled();
    if (!Connected()) {
        // Nothing to say goodbye to (the server closed, or there never was a connection).
        TSocketBase::Disconnect();
        return;
    }
    BeginClosing();
    try {
        Command("QUIT", SmtpStep::Quit);
    } catch (...) {
        TSocketBase::Disconnect();
        throw;
    }
    const bool refused = ReplyNumber() > 339;
    const std::string reply = LastReply();
    TSocketBase::Disconnect();
    if (refused)
        throw Error(reply);
}

void TSmtpClient::QuitAfterFailure() {
    if (!Connected() || Busy())
        return;
    ClearCanceled();
    BeginClosing();
    (void)sendLine("QUIT"); // a connection that fails here is closed all the same
    DropConnection();
}

void TSmtpClient::Abort() {
    if (Canceled())
        return;
    // A connection being opened has sent no message yet: it ends at once, wherever it waits.
    if (m_connecting) {
        Cancel();
        return;
    }
    if (!Connected())
        return;
    if (m_busy) {
        Cancel();
        return;
    }
    TSocketBase::Disconnect();
    ClearReceiveBuffer();
}

void TSmtpClient::BuildHeaderAndBody() {
    const TPostMessage& m = PostMessage;
    // Every text that goes into a header line or onto a command line is one line: a line break
    // in it would start a header or a command of its own.
    CheckOneLine("FromAddress", m.FromAddress);
    CheckOneLine("FromName", m.FromName);
    CheckOneLine("Subject", m.Subject);
    CheckOneLine("LocalProgram", m.LocalProgram);
    CheckOneLine("Date", m.Date);
    CheckOneLine("ReplyTo", m.ReplyTo);
    for (const auto* list : {&m.ToAddress, &m.ToCarbonCopy, &m.ToBlindCarbonCopy})
        for (const std::string& entry : *list)
            CheckOneLine("Recipient", entry);
    for (const std::string& path : m.Attachments)
        CheckOneLine("Attachment name", path);
    if (PreparedMessage) {
        for (const std::string& line : PreparedMessage->body)
            CheckOneLine("Body line", line);
        FinalHeader.Clear();
        for (const std::string& line : PreparedMessage->header)
            FinalHeader.Add(line); // checked with every header line before it is sent
        m_bodyStream.truncate(0);
        appendBodyLines(m_bodyStream, PreparedMessage->body);
        m_attachmentPieces = attachmentPieces(*PreparedMessage);
        return;
    }
    for (const std::string& line : m.Body)
        CheckOneLine("Body line", line);

    FinalHeader.Clear();
    FinalHeader.Add("From: " + m.FromName + "<" + m.FromAddress + ">");
    if (!m.ToAddress.empty())
        FinalHeader.Add("To: " + join(m.ToAddress, ','));
    if (!m.ToCarbonCopy.empty())
        FinalHeader.Add("CC: " + join(m.ToCarbonCopy, ','));
    FinalHeader.SetHeaderValue("Subject", m.Subject);
    FinalHeader.SetHeaderValue("X-Mailer", m.LocalProgram);
    FinalHeader.SetHeaderValue("Reply-To", m.ReplyTo);
    FinalHeader.SetHeaderValue("Date", m.Date);
    FinalHeader.Add("Mime-Version: 1.0");

    m_bodyStream.truncate(0);
    m_attachmentPieces.clear();
    if (m.Attachments.empty()) {
        FinalHeader.Add("Content-Type: text/plain;                        charset=us-ascii");
        appendBodyLines(m_bodyStream, m.Body);
        return;
    }
    m_boundary = "====================54535" + QTime::currentTime().toString(QStringLiteral("hh:mm:ss")).toStdString() +
                 "====";
    FinalHeader.Add("Content-Type: multipart/mixed;                   boundary=\"" + m_boundary + "\"");
    appendLine(m_bodyStream, "--" + m_boundary);
    appendLine(m_bodyStream, "Content-Type: text/plain;                        charset=us-ascii");
    appendLine(m_bodyStream, "");
    appendBodyLines(m_bodyStream, m.Body);
    for (std::size_t k = 1; k <= m.Attachments.size(); ++k)
        AddAttachmentPart(static_cast<int>(k));
    appendLine(m_bodyStream, "--" + m_boundary + "--");
}

void TSmtpClient::AddAttachmentPart(int number) {
    const std::string& path = PostMessage.Attachments.at(static_cast<std::size_t>(number - 1));
    CheckOneLine("Attachment name", path);
    const std::string name = fileNamePart(path);
    appendLine(m_bodyStream, "--" + m_boundary);
    if (std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c <= 0x7E && c != '"'; })) {
        appendLine(m_bodyStream, "Content-Type: application/octet-stream;          name=\"" + name + "\"");
        appendLine(m_bodyStream, "Content-Transfer-Encoding: base64");
        appendLine(m_bodyStream, "Content-Disposition: attachment;                 filename=\"" + name + "\"");
    } else {
        // A Shift-JIS name as it stands would be 8-bit bytes in a header, which readers show
        // as garbage: it goes out encoded, as the run's own messages write it.
        for (const std::string& line : AttachmentPartHeader(name, "application/octet-stream", false))
            appendLine(m_bodyStream, line);
    }
    appendLine(m_bodyStream, "");

    TAttachmentEncoder encoder(this);
    encoder.Method = EncodeType;
    QFile file(QString::fromStdString(cp932::pathFromSjis(path)));
    if (!file.open(QIODevice::ReadOnly)) {
        if (OnAttachmentNotFound)
            OnAttachmentNotFound(path);
        throw FileError("ファイル " + cp932::toUtf8(path) + " は開けません");
    }
    if (OnEncodeStart)
        OnEncodeStart(path);
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    encoder.InputStream = &file;
    encoder.OutputStream = &encoded;
    encoder.Encode();
    if (OnEncodeEnd)
        OnEncodeEnd(path);
    m_bodyStream += encoded.data();
}

bool TSmtpClient::HasExtension(std::string_view keyword) const {
    for (const std::string& extension : m_extensions) {
        const std::string_view name = std::string_view(extension).substr(0, extension.find(' '));
        if (name == keyword)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------- the transaction

template <typename F> TSmtpClient::Thrown TSmtpClient::call(F&& handler) noexcept {
    try {
        handler();
        return {};
    } catch (const std::exception& e) {
        return {std::current_exception(), e.what()};
    } catch (...) {
        return {std::current_exception(), {}};
    }
}

SendResult TSmtpClient::ended(SendOutcome outcome, const Thrown& thrown) {
    SendResult result;
    result.Outcome = outcome;
    result.ErrorText = thrown.text;
    result.Exception = thrown.exception;
    return result;
}

SendResult TSmtpClient::ended(SendOutcome outcome, const SocketFailure& failure) {
    return ended(outcome, Thrown{failure.Exception, failure.Text});
}

SendResult TSmtpClient::endedBeforeData(const SocketFailure& failure) {
    return ended(failure.End == WaitEnd::Stopped ? SendOutcome::Stopped : SendOutcome::ConnectionLost, failure);
}

namespace {

template <typename E> SendResult endedWith(SendOutcome outcome, E error, SmtpReply reply = {}) {
    SendResult result;
    result.Outcome = outcome;
    result.Reply = std::move(reply);
    result.ErrorText = error.what();
    result.Exception = std::make_exception_ptr(std::move(error));
    return result;
}

} // namespace

// Every refusal says what became of the message: a 4xx may be tried again later, a 5xx not. The
// plain exchange reports the reply as it came; the extended one names the step.
SendResult TSmtpClient::refusal(const SmtpReply& reply, bool namedStep) const {
    const SendOutcome outcome = reply.Transient() ? SendOutcome::TemporaryFailure : SendOutcome::PermanentFailure;
    if (namedStep)
        return endedWith(outcome,
                         RefusedError(std::string(StepName(reply.Step)) + ": サーバーが受け付けませんでした。\n" + reply.Text(),
                                      reply),
                         reply);
    return endedWith(outcome, RefusedError(reply), reply);
}

// Every recipient was refused, so the message goes to nobody and nothing more of it is sent. A
// recipient that may be accepted later (4xx) makes the message worth sending again.
SendResult TSmtpClient::allRefused(bool namedStep) const {
    const auto transient = std::find_if(m_refusedRecipients.rbegin(), m_refusedRecipients.rend(),
                                        [](const RecipientRefusal& r) { return r.Reply.Transient(); });
    return refusal(transient != m_refusedRecipients.rend() ? transient->Reply : m_refusedRecipients.back().Reply,
                   namedStep);
}

TSmtpClient::Thrown TSmtpClient::recipientAnswered(const SmtpReply& reply, const std::string& entry,
                                                   std::size_t& accepted) {
    if (reply.Code <= 300) {
        ++accepted;
        return {};
    }
    if (m_recipientRefusal.Code == 0)
        m_recipientRefusal = reply;
    m_refusedRecipients.push_back({entry, reply});
    if (!OnRecipientNotFound)
        return {};
    return call([&] { OnRecipientNotFound(entry); });
}

std::string TSmtpClient::unsafeText() const {
    if (HasLineBreakOrZero(PostMessage.FromAddress))
        return LineBreakRefusal("FromAddress");
    for (const auto* list : {&PostMessage.ToAddress, &PostMessage.ToCarbonCopy, &PostMessage.ToBlindCarbonCopy})
        for (const std::string& entry : *list)
            if (HasLineBreakOrZero(entry))
                return LineBreakRefusal("Recipient");
    for (const std::string& line : FinalHeader.Lines()) {
        const std::string name = line.substr(0, line.find(':'));
        if (HasLineBreakOrZero(line))
            return LineBreakRefusal("Header " + name);
        // Longer lines are cut or refused by servers; the message must never go out damaged.
        if (line.size() > MaxHeaderLine)
            return "Header " + name + " is longer than " + std::to_string(MaxHeaderLine) + " bytes";
    }
    return {};
}

bool TSmtpClient::sessionEnded(const SmtpReply& reply) {
    // 421: the server closes the session; 454, 530, 535: it wants a (new) login.
    return reply.Code == 421 || reply.Code == 454 || reply.Code == 530 || reply.Code == 535;
}

std::optional<SendResult> TSmtpClient::reconnect() {
    TSocketBase::Disconnect();
    ClearReceiveBuffer();
    m_renewToken = true;
    const TNotifyEvent onConnect = std::move(OnConnect);
    OnConnect = nullptr; // the owner connected once; this is the same session to it
    std::optional<SendResult> failed;
    // Connect raises its failures; here they end the message as any other step's would.
    try {
        Connect();
    } catch (const EAbortError& e) {
        failed = ended(SendOutcome::Stopped, Thrown{std::current_exception(), e.what()});
    } catch (const ESockError& e) {
        failed = ended(SendOutcome::ConnectionLost, Thrown{std::current_exception(), e.what()});
    } catch (const std::exception& e) {
        failed = ended(SendOutcome::NotSent, Thrown{std::current_exception(), e.what()});
    }
    OnConnect = onConnect;
    return failed;
}

// One command of the envelope whose refusal ends the message. `sessionOver`: it ended because the
// server ended the session (a login to renew, or the connection gone), not because of the message.
std::optional<SendResult> TSmtpClient::envelopeCommand(const std::string& text, SmtpStep step, bool& sessionOver) {
    SmtpReply reply;
    if (const SocketFailure f = command(text, step, reply)) {
        sessionOver = f.End != WaitEnd::Done && f.End != WaitEnd::Stopped && !Connected();
        return endedBeforeData(f);
    }
    if (reply.Code < 400)
        return std::nullopt;
    sessionOver = sessionEnded(reply);
    return refusal(reply, extended());
}

std::optional<SendResult> TSmtpClient::envelopeInSteps() {
    // A server may end a session whose token has expired before the next message starts.
    // Nothing of this message has gone out yet, so it starts again, once, on a new connection
    // with a fresh token: nobody gets it twice.
    for (int attempt = 0;; ++attempt) {
        bool sessionOver = false;
        std::optional<SendResult> end;
        // The plain exchange resets before every message; the extended one only when a
        // transaction may be open (see m_transactionMayBeOpen).
        if (!extended() || m_transactionMayBeOpen)
            end = envelopeCommand("RSET", SmtpStep::Reset, sessionOver);
        if (!end) {
            m_transactionMayBeOpen = true;
            end = envelopeCommand("MAIL FROM:<" + PostMessage.FromAddress + ">", SmtpStep::Sender, sessionOver);
        }
        if (!end)
            break;
        if (!OAuthToken || attempt > 0 || !sessionOver)
            return end;
        if (std::optional<SendResult> failed = reconnect())
            return failed;
    }
    std::size_t sent = 0, accepted = 0;
    for (const auto* list : {&PostMessage.ToAddress, &PostMessage.ToCarbonCopy, &PostMessage.ToBlindCarbonCopy}) {
        const std::vector<std::string> entries = *list; // a handler may change the record
        for (const std::string& entry : entries) {
            // Checked again: a recipient handler may have added this entry after the first check.
            if (HasLineBreakOrZero(entry))
                return endedWith(SendOutcome::NotSent, Error(LineBreakRefusal("Recipient")));
            const std::string address = ExtractAddress(entry);
            if (address.empty())
                continue;
            ++sent;
            SmtpReply reply;
            if (const SocketFailure f = command("RCPT TO:<" + address + ">", SmtpStep::Recipient, reply))
                return endedBeforeData(f);
            if (const Thrown thrown = recipientAnswered(reply, entry, accepted))
                return ended(SendOutcome::NotSent, thrown);
        }
    }
    if (sent > 0 && accepted == 0)
        return allRefused(extended());
    bool sessionOver = false;
    return envelopeCommand("DATA", SmtpStep::Data, sessionOver);
}

// RFC 2920: the commands up to DATA go out together and their replies are read in order, so a
// distant server costs one round trip per message instead of four. Every reply is read before
// the message ends, so that none is left to be taken for the next command's.
std::optional<SendResult> TSmtpClient::envelopeGrouped() {
    struct Sent {
        SmtpStep step;
        std::string entry; // RCPT only
    };
    std::vector<Sent> sent;
    std::string group;
    if (m_transactionMayBeOpen) {
        group = "RSET" + std::string(kCrLf);
        sent.push_back({SmtpStep::Reset, {}});
    }
    m_transactionMayBeOpen = true;
    group += "MAIL FROM:<" + PostMessage.FromAddress + ">" + kCrLf;
    sent.push_back({SmtpStep::Sender, {}});
    std::size_t recipients = 0;
    for (const auto* list : {&PostMessage.ToAddress, &PostMessage.ToCarbonCopy, &PostMessage.ToBlindCarbonCopy}) {
        for (const std::string& entry : *list) {
            const std::string address = ExtractAddress(entry);
            if (address.empty())
                continue;
            group += "RCPT TO:<" + address + ">" + kCrLf;
            sent.push_back({SmtpStep::Recipient, entry});
            ++recipients;
        }
    }
    group += "DATA" + std::string(kCrLf);
    sent.push_back({SmtpStep::Data, {}});
    SetReplyNumber(0);
    if (const SocketFailure f = sendAll(QByteArray::fromStdString(group)))
        return endedBeforeData(f);

    std::optional<SmtpReply> refused; // RSET or MAIL: the recipients' replies do not count then
    std::optional<SmtpReply> dataRefused;
    std::size_t accepted = 0;
    Thrown thrown;
    for (const Sent& command : sent) {
        SmtpReply reply;
        if (const SocketFailure f = readReply(command.step, reply))
            return endedBeforeData(f);
        if (command.step == SmtpStep::Recipient) {
            if (Thrown t = recipientAnswered(reply, command.entry, accepted); t && !thrown)
                thrown = std::move(t);
        } else if (reply.Code >= 400) {
            std::optional<SmtpReply>& which = command.step == SmtpStep::Data ? dataRefused : refused;
            if (!which)
                which = reply;
        } else if (command.step == SmtpStep::Data && reply.Code == 354) {
            if (thrown) {
                // The message ends here, but "." would deliver it to those accepted.
                DropConnection();
                break;
            }
            if (refused || (recipients > 0 && accepted == 0)) {
                // The server opened the data although there is nothing to deliver: close it
                // empty, so that the connection stays in step.
                SmtpReply ignored;
                SocketFailure f = sendAll(QByteArrayLiteral(".\r\n"));
                if (!f)
                    f = readReply(SmtpStep::EndOfData, ignored);
                if (f)
                    return endedBeforeData(f);
            }
        }
    }
    if (thrown)
        return ended(SendOutcome::NotSent, thrown);
    if (refused)
        return refusal(*refused, false);
    if (recipients > 0 && accepted == 0)
        return allRefused(false);
    if (dataRefused)
        return refusal(*dataRefused, false);
    return std::nullopt;
}

SendResult TSmtpClient::endOfData(const SmtpReply& reply) {
    if (reply.Code >= 400) {
        SendResult result = refusal(reply, extended());
        if (OnFailure)
            if (const Thrown thrown = call([this] { OnFailure(this); })) {
                result.ErrorText = thrown.text;
                result.Exception = thrown.exception;
            }
        return result;
    }
    m_transactionMayBeOpen = false;
    SendResult result;
    result.Outcome = SendOutcome::Accepted;
    result.Reply = reply;
    return result;
}

// The header, the body and "." go in one write: each write is a segment the server must take
// and, over TLS, a record both ends must seal and open. The bytes are those of three writes.
SendResult TSmtpClient::dataWhole() {
    std::vector<QByteArray> pieces{headerBlock(FinalHeader) + m_bodyStream};
    // Without files the whole message is one piece, and so one write; the files' shared pieces
    // follow the text without being copied.
    if (m_attachmentPieces.empty()) {
        pieces.front() += ".\r\n";
    } else {
        pieces.insert(pieces.end(), m_attachmentPieces.begin(), m_attachmentPieces.end());
        pieces.push_back(QByteArrayLiteral(".\r\n"));
    }
    if (OnEndOfData)
        if (const Thrown thrown = call([this] { OnEndOfData(this); })) {
            DropConnection(); // the server waits for the message's data
            return ended(SendOutcome::NotSent, thrown);
        }
    // As a stream, so that a stop before it ends the connection as it does for a body.
    PiecesDevice whole(std::move(pieces));
    if (const SocketFailure f = sendStream(whole))
        // While "." was not handed over, nothing can have been delivered.
        return BytesQueued() == whole.size() ? ended(SendOutcome::Unknown, f) : endedBeforeData(f);
    SmtpReply reply;
    if (const SocketFailure f = readReply(SmtpStep::EndOfData, reply))
        return ended(SendOutcome::Unknown, f);
    return endOfData(reply);
}

SendResult TSmtpClient::transact() {
    // The header is built before the checks, so that their handlers' repairs of the record reach
    // the envelope but not the header lines.
    if (const Thrown thrown = call([this] { BuildHeaderAndBody(); }))
        return ended(SendOutcome::NotSent, thrown);
    bool connected = false;
    if (const Thrown thrown = call([&] { connected = AskForConnection(); }))
        return ended(SendOutcome::NotSent, thrown);
    if (!connected)
        return endedWith(SendOutcome::NotSent, Error("Not Connected"));

    const auto complete = [this] {
        const TPostMessage& m = PostMessage;
        return !m.FromAddress.empty() && (!m.ToAddress.empty() || !m.ToCarbonCopy.empty() || !m.ToBlindCarbonCopy.empty());
    };
    if (!complete()) {
        bool handled = false;
        if (OnHeaderIncomplete)
            if (const Thrown thrown =
                    call([&] { OnHeaderIncomplete(handled, PostMessage.FromAddress.empty() ? 1 : 2); }))
                return ended(SendOutcome::NotSent, thrown);
        if (!handled || !complete())
            return endedWith(SendOutcome::NotSent, Error("Incomplete Header"));
    }
    if (OnSendStart)
        if (const Thrown thrown = call([this] { OnSendStart(this); }))
            return ended(SendOutcome::NotSent, thrown);
    // Handlers above may have changed the record and the header: check what will really be sent.
    if (const std::string unsafe = unsafeText(); !unsafe.empty())
        return endedWith(SendOutcome::NotSent, Error(unsafe));

    const std::optional<SendResult> envelopeEnd =
        Pipelining && HasExtension("PIPELINING") ? envelopeGrouped() : envelopeInSteps();
    if (envelopeEnd)
        return *envelopeEnd;
    return dataWhole();
}

SendResult TSmtpClient::Send() {
    if (m_busy)
        return endedWith(SendOutcome::NotSent, Error("Busy"));
    m_recipientRefusal = {};
    m_refusedRecipients.clear();
    SendResult result;
    {
        const BusyScope busy(m_busy);
        if (const Thrown thrown = call([&] { result = transact(); })) {
            // Nothing there raises by design; whatever did leaves the exchange in an unknown state.
            DropConnection();
            result = ended(SendOutcome::NotSent, thrown);
        }
        result.RefusedRecipients = m_refusedRecipients;
        if (result.Outcome == SendOutcome::Accepted && ClearParams) {
            PostMessage.ToAddress.clear();
            PostMessage.ToCarbonCopy.clear();
            PostMessage.ToBlindCarbonCopy.clear();
            PostMessage.Attachments.clear();
        }
    }
    m_lastResult = result;
    if (result.Outcome == SendOutcome::Accepted && OnSuccess)
        if (const Thrown thrown = call([this] { OnSuccess(this); })) {
            result.ErrorText = thrown.text;
            result.Exception = thrown.exception;
            m_lastResult = result;
        }
    return result;
}

void TSmtpClient::SendMail() {
    if (m_busy)
        return;
    const SendResult result = Send();
    if (result.Exception)
        std::rethrow_exception(result.Exception);
}
} // namespace tessaly
