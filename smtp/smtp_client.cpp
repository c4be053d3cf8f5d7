#include "smtp/smtp_client.h"

#include "common/cp932.h"
#include "common/errors.h"

#include <QBuffer>
#include <QFile>
#include <QString>
#include <QTime>

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

void appendBodyLines(QByteArray& to, const std::vector<std::string>& body) {
    for (const std::string& line : body) {
        // A line starting with "." gets one more, so that no body line can end the data early.
        if (!line.empty() && line.front() == '.')
            to.append('.');
        appendLine(to, line);
    }
}

std::string fileNamePart(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\:/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

} // namespace

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
    m_abortHook = [this] {
        RequestCloseSocket();
        ClearReceiveBuffer();
    };
}

TSmtpClient::~TSmtpClient() {
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
    // Bounded by what the server sends: every pass consumes one received line.
    while (!reply.empty() && (reply.front() == ' ' || (reply.size() >= 4 && reply[3] == '-')))
        reply = ReadLn();
}

void TSmtpClient::Connect() {
    BusyScope busy(m_busy);
    CheckOneLine("UserID", UserID);
    TSocketBase::Connect();
    try {
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
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
    busy.end();
    if (OnConnect)
        OnConnect(this);
}

void TSmtpClient::Disconnect() {
    ClearCanceled();
    if (!Connected()) {
        // Nothing to say goodbye to (the server closed, or there never was a connection).
        TSocketBase::Disconnect();
        return;
    }
    try {
        Transaction("QUIT");
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

void TSmtpClient::Abort() {
    if (Canceled() || !Connected())
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
        m_bodyStream.clear();
        appendBodyLines(m_bodyStream, PreparedMessage->body);
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

    m_bodyStream.clear();
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
    appendLine(m_bodyStream, "Content-Type: application/octet-stream;          name=\"" + name + "\"");
    appendLine(m_bodyStream, "Content-Transfer-Encoding: base64");
    appendLine(m_bodyStream, "Content-Disposition: attachment;                 filename=\"" + name + "\"");
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

void TSmtpClient::checkEnvelope() const {
    CheckOneLine("FromAddress", PostMessage.FromAddress);
    for (const auto* list : {&PostMessage.ToAddress, &PostMessage.ToCarbonCopy, &PostMessage.ToBlindCarbonCopy})
        for (const std::string& entry : *list)
            CheckOneLine("Recipient", entry);
}

void TSmtpClient::checkFinalHeader() const {
    for (const std::string& line : FinalHeader.Lines()) {
        const std::string name = line.substr(0, line.find(':'));
        CheckOneLine("Header " + name, line);
        // Longer lines are cut or refused by servers; the message must never go out damaged.
        if (line.size() > MaxHeaderLine)
            throw Error("Header " + name + " is longer than " + std::to_string(MaxHeaderLine) + " bytes");
    }
}

void TSmtpClient::SendMail() {
    if (m_busy)
        return;
    BusyScope busy(m_busy);

    BuildHeaderAndBody();
    EnsureConnected();

    auto complete = [this] {
        const TPostMessage& m = PostMessage;
        return !m.FromAddress.empty() &&
               (!m.ToAddress.empty() || !m.ToCarbonCopy.empty() || !m.ToBlindCarbonCopy.empty());
    };
    if (!complete()) {
        bool handled = false;
        if (OnHeaderIncomplete)
            OnHeaderIncomplete(handled, PostMessage.FromAddress.empty() ? 1 : 2);
        if (!handled || !complete())
            throw Error("Incomplete Header");
    }

    if (OnSendStart)
        OnSendStart(this);
    // Handlers above may have changed the record and the header: check what will really be sent.
    checkEnvelope();
    checkFinalHeader();

    Transaction("RSET");
    if (ReplyNumber() >= 400)
        throw Error(LastReply());
    Transaction("MAIL FROM:<" + PostMessage.FromAddress + ">");
    if (ReplyNumber() >= 400)
        throw Error(LastReply());
    for (const auto* list : {&PostMessage.ToAddress, &PostMessage.ToCarbonCopy, &PostMessage.ToBlindCarbonCopy}) {
        const std::vector<std::string> entries = *list; // a handler may change the record
        for (const std::string& entry : entries) {
            // Checked again: a recipient handler may have added this entry after the first check.
            CheckOneLine("Recipient", entry);
            const std::string address = ExtractAddress(entry);
            if (address.empty())
                continue;
            Transaction("RCPT TO:<" + address + ">");
            if (ReplyNumber() > 300 && OnRecipientNotFound)
                OnRecipientNotFound(entry);
        }
    }
    Transaction("DATA");
    if (ReplyNumber() >= 400)
        throw Error(LastReply());

    // The header goes out whole, whatever its length, followed by CR LF twice.
    WriteAll(QByteArray::fromStdString(FinalHeader.Text() + kCrLf + kCrLf));
    QBuffer body(&m_bodyStream);
    body.open(QIODevice::ReadOnly);
    SendStream(body);

    Transaction(".");
    if (ReplyNumber() >= 400) {
        if (OnFailure)
            OnFailure(this);
        throw Error(LastReply());
    }
    if (ClearParams) {
        PostMessage.ToAddress.clear();
        PostMessage.ToCarbonCopy.clear();
        PostMessage.ToBlindCarbonCopy.clear();
        PostMessage.Attachments.clear();
    }
    busy.end();
    if (OnSuccess)
        OnSuccess(this);
}

} // namespace tessaly
