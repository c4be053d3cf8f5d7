#include "smtp/socket_base.h"

#include <QAbstractSocket>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace tessaly {

namespace {

struct ErrorEntry {
    int number;
    const char* text;
};

constexpr std::array<ErrorEntry, 50> kErrorTable{{
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
}};

constexpr int kWouldBlock = 10035;
constexpr int kNotConnected = 10057;
constexpr qsizetype kChunk = 16383;       // bytes moved per read or write step
constexpr qsizetype kWriteLimit = 16384;  // the most Write sends of one text
constexpr qint64 kHighWater = 4 * kChunk; // bytes queued in the socket before waiting for progress

constexpr std::size_t kMaxReplyLines = 1000; // a reply longer than this is not a reply but a flood

const char* const kHostLookupTimedOut = "Host Lookup Timed Out";
const char* const kHostLookupCanceled = "Host Lookup Canceled";

// Authorities that tests add to the system's; empty in the program.
QList<QSslCertificate>& extraCaCertificates() {
    static QList<QSslCertificate> certificates;
    return certificates;
}

std::string fingerprintOf(const QSslCertificate& certificate) {
    if (certificate.isNull())
        return {};
    return certificate.digest(QCryptographicHash::Sha256).toHex().toStdString();
}

CertProblem problemOf(QSslError::SslError error) {
    switch (error) {
    case QSslError::CertificateExpired:
        return CertProblem::Expired;
    case QSslError::CertificateNotYetValid:
        return CertProblem::NotYetValid;
    case QSslError::HostNameMismatch:
        return CertProblem::HostMismatch;
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
        return CertProblem::SelfSigned;
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
    case QSslError::InvalidCaCertificate:
        return CertProblem::UntrustedIssuer;
    default:
        return CertProblem::Other;
    }
}

// A status report must never show a secret: the commands sent are not reported, only replies.
bool isReplyCode(const std::string& line, std::size_t& digits) {
    digits = 0;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9')
        ++digits;
    if (digits != 3 || line[0] < '2' || line[0] > '5')
        return false;
    // After the code: the end of the line, a blank, or "-" (more lines follow).
    return line.size() == 3 || line[3] == ' ' || line[3] == '-' || line[3] == '\r' || line[3] == '\n';
}

} // namespace

const char* CertProblemText(CertProblem problem) {
    switch (problem) {
    case CertProblem::Expired:
        return "期限切れ";
    case CertProblem::NotYetValid:
        return "有効期間の開始前";
    case CertProblem::HostMismatch:
        return "ホスト名の不一致";
    case CertProblem::UntrustedIssuer:
        return "発行者を確認できない";
    case CertProblem::SelfSigned:
        return "自己署名";
    case CertProblem::PinMismatch:
        return "信頼済みの証明書と違う";
    case CertProblem::Handshake:
        return "TLS の開始に失敗";
    case CertProblem::Other:
        break;
    }
    return "その他の証明書の問題";
}

const char* const TSocketBase::ClosedByPeerText = "Connection closed by the server";
const char* const TSocketBase::ReplyTimedOutText = "No reply from the server within the time-out";
const char* const TSocketBase::SendTimedOutText = "The server took no data within the time-out";

std::string ErrorText(int number) {
    if (number == 0)
        return {};
    for (const ErrorEntry& e : kErrorTable)
        if (e.number == number)
            return std::to_string(number) + ":" + e.text;
    return "Unknown Error No. " + std::to_string(number);
}

int SocketErrorNumber(int qtSocketError) {
    switch (static_cast<QAbstractSocket::SocketError>(qtSocketError)) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::ProxyConnectionClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::ProxyNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
        return 10060;
    case QAbstractSocket::DatagramTooLargeError:
        return 10040;
    case QAbstractSocket::NetworkError:
        return 10050;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    case QAbstractSocket::UnfinishedSocketOperationError:
        return 10036;
    case QAbstractSocket::OperationError:
        return kNotConnected;
    case QAbstractSocket::TemporaryError:
        return kWouldBlock;
    default:
        return -1;
    }
}

// ---------------------------------------------------------------- TTimeoutTimer

TTimeoutTimer::TTimeoutTimer(QObject* parent) : QObject(parent), m_timer(new QTimer(this)) {
    connect(m_timer, &QTimer::timeout, this, [this] {
        if (!m_onTimer)
            return;
        try {
            m_onTimer(this);
        } catch (...) {
            // A timer tick runs from the event loop: nothing may escape into it.
        }
    });
}

void TTimeoutTimer::SetEnabled(bool enabled) {
    m_enabled = enabled;
    rearm();
}

void TTimeoutTimer::SetInterval(unsigned ms) {
    m_interval = ms;
    rearm();
}

void TTimeoutTimer::SetOnTimer(TNotifyEvent handler) {
    m_onTimer = std::move(handler);
    rearm();
}

bool TTimeoutTimer::Running() const { return m_timer->isActive(); }

void TTimeoutTimer::rearm() {
    m_timer->stop();
    if (m_interval != 0 && m_enabled && m_onTimer)
        m_timer->start(static_cast<int>(std::min<unsigned>(m_interval, INT32_MAX)));
}

// ---------------------------------------------------------------- TSocketBase

TSocketBase::TSocketBase(QObject* parent)
    : QObject(parent), m_socket(new QTcpSocket(this)), m_timer(new TTimeoutTimer(this)), m_ioTimer(new QTimer(this)) {
    Status(ReportSteps, "Create");
    m_timer->SetEnabled(false);
    m_timer->SetOnTimer([this](QObject*) { TimerTriggered(); });
    m_ioTimer->setSingleShot(true);
    connect(m_ioTimer, &QTimer::timeout, this, &TSocketBase::onIoTimer);
    attachSocket();
}

void TSocketBase::attachSocket() {
    connect(m_socket, &QTcpSocket::connected, this, &TSocketBase::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &TSocketBase::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &TSocketBase::onBytesWritten);
    connect(m_socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError e) { onErrorOccurred(static_cast<int>(e)); });
    connect(m_socket, &QTcpSocket::disconnected, this, &TSocketBase::onDisconnected);
}

void TSocketBase::replaceSocket() {
    // The closed socket may be the sender of the signal being handled: release it later.
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_encrypted = false;
    if (SocketKind == SocketType::Tls) {
        auto* ssl = new QSslSocket(this);
        m_socket = ssl;
        connect(ssl, &QSslSocket::encrypted, this, [this, ssl] {
            safely([&] { m_peerFingerprint = fingerprintOf(ssl->peerCertificate()); });
            m_encrypted = true;
        });
        connect(ssl, &QSslSocket::sslErrors, this, [this, ssl](const QList<QSslError>& errors) {
            safely([&] { checkCertificate(*ssl, errors); });
        });
    } else {
        m_socket = new QTcpSocket(this);
    }
    attachSocket();
}

TSocketBase::~TSocketBase() {
    // No handler runs any more: the owner it would call may be half destroyed already.
    m_destroying = true;
    Status(ReportSteps, "Destroy");
    m_canceled = true;
    m_abortHook = nullptr;
    m_socket->disconnect(this);
    m_socket->abort();
    m_connected = false;
}

template <typename F> void TSocketBase::safely(F&& f) noexcept {
    try {
        f();
    } catch (...) {
        // Handlers run from socket signals, that is from the event loop: swallow what they throw.
    }
}

void TSocketBase::Status(int level, const std::string& text) {
    if (ReportLevel < level)
        return;
    m_lastStatus = text;
    if (OnStatus && !m_destroying)
        OnStatus(this, text);
}

qintptr TSocketBase::SocketDescriptor() const { return m_socket->socketDescriptor(); }

// ---------------------------------------------------------------- waiting

// Runs the event loop, sleeping until events come, and tests the condition after each batch.
// Every flag a wait tests is set by a handler of such an event (socket signals, the timers,
// Cancel from a user command), so no wake-up call is needed and none is ever missed.
void TSocketBase::waitFor(const std::function<bool()>& done) {
    QEventLoop loop;
    while (!done())
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// The limit of a wait is a deadline; the timer behind it keeps running across waits and is
// re-armed only when it fires early, so that a wait costs no timer registration.
void TSocketBase::startIoTimer() {
    m_ioTimedOut = false;
    m_ioWaiting = true;
    if (TimeOut <= 0)
        return;
    m_ioDeadline = QDeadlineTimer(TimeOut);
    if (!m_ioTimer->isActive() || m_ioTimerDue > m_ioDeadline) {
        m_ioTimer->start(TimeOut);
        m_ioTimerDue = m_ioDeadline;
    }
}

void TSocketBase::stopIoTimer() { m_ioWaiting = false; }

void TSocketBase::extendIoDeadline() {
    if (m_ioWaiting && TimeOut > 0)
        m_ioDeadline = QDeadlineTimer(TimeOut);
}

void TSocketBase::onIoTimer() {
    if (!m_ioWaiting || TimeOut <= 0)
        return; // single shot: stays off until the next wait
    if (!m_ioDeadline.hasExpired()) {
        const qint64 left = std::max<qint64>(1, m_ioDeadline.remainingTime());
        m_ioTimer->start(static_cast<int>(left));
        m_ioTimerDue = m_ioDeadline;
        return;
    }
    m_ioTimedOut = true;
}

void TSocketBase::TimerOn() {
    Status(ReportSteps, "Timer On");
    m_timedOut = false;
    m_timer->SetInterval(static_cast<unsigned>(std::max(TimeOut, 0)));
    m_timer->SetEnabled(true);
}

void TSocketBase::TimerOff() {
    Status(ReportSteps, "Timer Off");
    m_timer->SetEnabled(false);
}

void TSocketBase::TimerTriggered() {
    Status(ReportSteps, "Timer Triggered");
    TimerOff();
    m_timedOut = true;
    Abort();
}

// ---------------------------------------------------------------- socket signals

void TSocketBase::onConnected() {
    m_success = true;
    m_connected = true;
    // The header, the body and the final "." go out as separate small writes; with Nagle's
    // algorithm each message would stall on the peer's delayed acknowledgement.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (OnConnect)
        safely([this] { OnConnect(this); });
}

void TSocketBase::onReadyRead() {
    Status(ReportSteps, "ReadToStream");
    if (m_canceled && m_abortHook)
        safely([this] { m_abortHook(); });
    // One read per notification: more data left behind notifies again on the next loop pass.
    // A TLS socket buffers what it decrypted and notifies once for it: take it all.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_received += qobject_cast<QSslSocket*>(m_socket) ? m_socket->readAll() : m_socket->read(kChunk);
    // An unbuffered socket learns of the peer's close by the read that returns nothing.
    if (m_connected && m_socket->state() == QAbstractSocket::UnconnectedState)
        onDisconnected();
}

void TSocketBase::onBytesWritten(qint64) {
    reportProgress();
    pump();
}

void TSocketBase::onErrorOccurred(int error) {
    m_success = false;
    m_socketErrorText = m_socket->errorString().toStdString();
    m_lastErrorNo = SocketErrorNumber(error);
    if (m_connected)
        m_ioError = true;
    if (OnError)
        safely([this] { OnError(this, m_lastErrorNo, ErrorText(m_lastErrorNo)); });
}

void TSocketBase::onDisconnected() {
    // Closed by the peer: keep what it sent before closing, then release the socket.
    if (m_socket->isReadable())
        m_received += m_socket->readAll();
    const bool wasConnected = m_connected;
    m_connected = false;
    m_peerClosed = wasConnected;
    safely([this] { RequestCloseSocket(); });
}

// ---------------------------------------------------------------- connection

void TSocketBase::ResolveHost() {
    Status(ReportSteps, "Resolve Host");
    const QString host = QString::fromLatin1(Host);
    QHostAddress literal;
    if (literal.setAddress(host) && literal.protocol() == QAbstractSocket::IPv4Protocol) {
        m_address = literal;
        return;
    }
    m_address = QHostAddress();
    TimerOn();
    m_lookupDone = false;
    m_lookupFailed = false;
    m_lookupAddresses.clear();
    m_lookupId = QHostInfo::lookupHost(host, this, [this](const QHostInfo& info) {
        if (info.lookupId() != m_lookupId)
            return;
        m_lookupFailed = info.error() != QHostInfo::NoError || info.addresses().isEmpty();
        m_success = !m_lookupFailed;
        for (const QHostAddress& a : info.addresses())
            m_lookupAddresses.push_back(a);
        m_lookupDone = true;
    });
    waitFor([this] { return m_lookupDone || m_timedOut || m_canceled; });
    TimerOff();
    if (!m_lookupDone) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    if (m_timedOut)
        throw ESockError(kHostLookupTimedOut);
    if (m_canceled)
        throw ESockError(kHostLookupCanceled);
    if (m_lookupFailed) {
        m_lastErrorNo = 11001;
        throw ESockError("Host Lookup Failed");
    }
    // The remote address is IPv4; an IPv6-only name is still better used than refused.
    m_address = m_lookupAddresses.front();
    for (const QHostAddress& a : m_lookupAddresses)
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            m_address = a;
            break;
        }
    if (OnHostResolved)
        OnHostResolved(this);
}

void TSocketBase::Connect() {
    Status(ReportSteps, "Connecting");
    m_canceled = false;
    if (m_connected)
        throw ESockError("Already connected");

    for (int retry = 0;; ++retry) {
        m_address = QHostAddress();
        try {
            ResolveHost();
        } catch (const ESockError& e) {
            const std::string what = e.what();
            if (what == kHostLookupTimedOut || what == kHostLookupCanceled)
                throw;
        }
        if (!m_address.isNull())
            break;
        bool handled = false;
        if (retry == 0 && OnInvalidHost)
            OnInvalidHost(handled);
        if (!handled)
            throw ESockError("Null Remote Address");
    }

    m_lookupDone = false;
    m_success = true;
    m_peerClosed = false;
    m_ioError = false;
    m_received.clear();
    const bool portValid = Port > 0 && Port <= 65535;
    const bool tls = SocketKind == SocketType::Tls;
    if (tls != (qobject_cast<QSslSocket*>(m_socket) != nullptr))
        replaceSocket();
    if (portValid) {
        // A TLS socket keeps its own buffers (it must, to decrypt); a plain one reads the system's.
        m_socket->connectToHost(m_address, static_cast<quint16>(Port),
                                tls ? QIODevice::ReadWrite : QIODevice::ReadWrite | QIODevice::Unbuffered);
        TimerOn();
        waitFor([this] { return m_connected || m_timedOut || m_canceled || !m_success; });
        TimerOff();
    } else {
        // A port outside 1..65535 cannot be reached; never connect to a truncated number.
        m_success = false;
        m_lastErrorNo = 10049;
    }
    if (m_connected && !m_timedOut && !m_canceled && m_success)
        return;

    replaceSocket();
    m_connected = false;
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (m_timedOut)
        throw ESockError("Connection Timed out");
    if (m_canceled)
        throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TSocketBase::Disconnect() {
    Status(ReportSteps, "Disconnecting");
    RequestCloseSocket();
}

void TSocketBase::RequestCloseSocket() {
    Status(ReportBuffers, "Request Close Socket");
    m_connected = false;
    if (!m_destroying)
        replaceSocket(); // a fresh socket waits for the next Connect
    if (OnDisconnect && !m_destroying)
        OnDisconnect(this);
}

void TSocketBase::Cancel() {
    Status(ReportSteps, "Canceling");
    m_canceled = true;
}

void TSocketBase::EnsureConnected() {
    if (m_connected)
        return;
    bool handled = false;
    if (OnConnectionRequired)
        OnConnectionRequired(handled);
    if (!handled || !m_connected)
        throw Error("Not Connected");
}

void TSocketBase::ErrorManager(int expected) {
    Status(ReportErrors, "Checking Error In Error Manager");
    if (m_lastErrorNo == expected)
        return;
    Status(ReportSteps, "Looking Up Error Message");
    const std::string text = ErrorText(m_lastErrorNo);
    if (OnError)
        OnError(this, m_lastErrorNo, text);
    throw ESockError(text);
}

void TSocketBase::failConnection(const std::string& text) {
    // A connection that failed in the middle of an exchange cannot be trusted for the next one.
    RequestCloseSocket();
    m_received.clear();
    throw ESockError(text);
}

// ---------------------------------------------------------------- sending

void TSocketBase::pump() {
    if (m_inHandler || !m_sending)
        return;
    m_inHandler = true;
    Status(ReportSteps, "WriteFromStream");
    // Bounded: each pass either queues more bytes or stops because the source or the socket is full.
    while (!m_canceled && m_socket->state() == QAbstractSocket::ConnectedState) {
        bool queued = false;
        while (m_socket->bytesToWrite() < kHighWater && !sourceAtEnd()) {
            const QByteArray chunk = readSource();
            if (chunk.isEmpty())
                break;
            if (m_socket->write(chunk) != chunk.size()) {
                m_ioError = true;
                break;
            }
            m_queued += chunk.size();
            queued = true;
            reportProgress();
        }
        if (m_socket->bytesToWrite() > 0)
            m_socket->flush(); // hand the bytes to the system now, not on the next loop pass
        reportProgress();
        if (!queued || m_ioError || sourceAtEnd() || m_socket->bytesToWrite() >= kHighWater)
            break;
    }
    if (sourceAtEnd() && m_socket->bytesToWrite() == 0)
        m_sendComplete = true;
    m_inHandler = false;
}

void TSocketBase::reportProgress() {
    // What the system has taken: everything queued but what the socket still holds.
    const qint64 taken = m_queued - m_socket->bytesToWrite();
    if (taken <= m_taken)
        return;
    // Every send counts; SendStream starts the count at 0, so the final "." adds to its total.
    m_bytesSent += taken - m_taken;
    if (m_counting && OnPacketSent)
        safely([this] { OnPacketSent(this); });
    m_taken = taken;
    extendIoDeadline(); // progress: the limit counts from the last chunk taken
}

bool TSocketBase::sourceAtEnd() const {
    return m_sendSource ? m_sendSource->atEnd() : m_sendPos >= m_sendBytes.size();
}

QByteArray TSocketBase::readSource() {
    if (m_sendSource)
        return m_sendSource->read(kChunk);
    const QByteArray chunk = m_sendBytes.mid(m_sendPos, kChunk);
    m_sendPos += chunk.size();
    return chunk;
}

void TSocketBase::sendAll(QIODevice* source, const QByteArray& bytes) {
    m_queued = 0;
    if (m_canceled) {
        // A text is simply not sent: the reply wait that follows it reports the cancel. A stream
        // is the body after DATA, so the peer is mid-message and the connection is given up.
        if (!source)
            return;
        m_canceled = false;
        if (m_abortHook)
            m_abortHook();
        throw EAbortError("Socket send aborted");
    }
    if (!m_connected)
        failConnection(m_peerClosed ? ClosedByPeerText : ErrorText(kNotConnected));
    m_sendSource = source;
    m_sendBytes = bytes;
    m_sendPos = 0;
    m_sending = true;
    m_taken = 0;
    m_sendComplete = false;
    m_ioError = false;
    startIoTimer();
    pump();
    waitFor([this] { return m_sendComplete || m_canceled || !m_connected || m_ioError || m_ioTimedOut; });
    stopIoTimer();
    m_sending = false;
    m_sendSource = nullptr;
    m_sendBytes.clear();
    if (m_sendComplete)
        return;
    if (m_canceled) {
        m_canceled = false;
        // Part of the data left: the peer is mid-message, so the connection is given up.
        if (m_abortHook)
            m_abortHook();
        throw EAbortError("Socket send aborted");
    }
    if (m_ioTimedOut)
        failConnection(SendTimedOutText);
    if (m_peerClosed || m_lastErrorNo == 10054)
        failConnection(ClosedByPeerText);
    failConnection(ErrorText(m_lastErrorNo == 0 ? kNotConnected : m_lastErrorNo));
}

void TSocketBase::WriteAll(const QByteArray& bytes) {
    Status(ReportBuffers, "Sending Buffer");
    sendAll(nullptr, bytes);
}

void TSocketBase::Write(const std::string& text) {
    Status(ReportSteps, "Write");
    QByteArray bytes = QByteArray::fromStdString(text.substr(0, kWriteLimit));
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    WriteAll(bytes);
}

void TSocketBase::Writeln(const std::string& text) {
    Status(ReportSteps, "Writeln");
    Write(text + "\r\n");
}

void TSocketBase::SendStream(QIODevice& stream) {
    m_counting = true;
    Status(ReportSteps, "SendStream");
    struct CountingOff {
        bool& flag;
        ~CountingOff() { flag = false; }
    } countingOff{m_counting};
    if (!m_canceled) {
        Status(ReportSteps, "SendFile");
        m_bytesSent = 0;
        m_bytesTotal = stream.size();
        stream.seek(0);
    }
    sendAll(&stream, {});
}

// ---------------------------------------------------------------- receiving

std::string TSocketBase::ReadLn() {
    Status(ReportSteps, "ReadLn");
    if (!m_received.contains('\n')) {
        startIoTimer();
        waitFor([this] { return m_received.contains('\n') || m_canceled || !m_connected || m_ioError || m_ioTimedOut; });
        stopIoTimer();
    }
    if (m_canceled) {
        // The reply to what was sent is still owed; it must never be taken for the next one.
        if (m_abortHook)
            m_abortHook();
        throw EAbortError("Socket readln aborted");
    }
    const qsizetype lf = m_received.indexOf('\n');
    if (lf >= 0) {
        std::string line = m_received.left(lf + 1).toStdString();
        m_received.remove(0, lf + 1);
        return line;
    }
    if (m_ioTimedOut)
        failConnection(ReplyTimedOutText);
    if (m_peerClosed || m_lastErrorNo == 10054)
        failConnection(ClosedByPeerText);
    failConnection(ErrorText(m_ioError ? m_lastErrorNo : kNotConnected));
}

SmtpReply TSocketBase::ReadReply(SmtpStep step) {
    SmtpReply reply;
    reply.Step = step;
    m_replyNumber = 0;
    // Bounded by what the server sends and by kMaxReplyLines: every pass consumes one line.
    for (;;) {
        std::string line = ReadLn();
        reply.Lines.push_back(line);
        Status(ReportReplies, line);
        std::size_t digits = 0;
        const bool coded = isReplyCode(line, digits);
        const int code = coded ? std::stoi(line.substr(0, 3)) : 0;
        if (!coded || (reply.Lines.size() > 1 && code != reply.Code) || reply.Lines.size() > kMaxReplyLines) {
            m_lastReply = reply.Text();
            RequestCloseSocket();
            m_received.clear();
            const std::string text =
                std::string(StepName(step)) + ": サーバーの応答が読めないため、接続を切りました。\n" + m_lastReply;
            throw ProtocolError(text, std::move(reply));
        }
        reply.Code = code;
        if (line.size() < 4 || line[3] != '-')
            break;
    }
    m_replyNumber = static_cast<int16_t>(reply.Code);
    m_lastReply = reply.Text();
    return reply;
}

SmtpReply TSocketBase::Command(const std::string& command, SmtpStep step) {
    Status(ReportSteps, "Transaction");
    m_replyNumber = 0;
    Writeln(command);
    return ReadReply(step);
}

// ---------------------------------------------------------------- TLS

void TSocketBase::SetExtraCaCertificates(const QByteArray& pem) {
    extraCaCertificates() = QSslCertificate::fromData(pem, QSsl::Pem);
}

bool TSocketBase::Encrypted() const { return m_encrypted && m_connected; }

bool TSocketBase::PeerIsLoopback() const { return m_connected && m_address.isLoopback(); }

// Runs inside the handshake, from the socket's signal. Errors not ignored here end the handshake.
void TSocketBase::checkCertificate(QSslSocket& ssl, const QList<QSslError>& errors) {
    m_peerFingerprint = fingerprintOf(ssl.peerCertificate());
    if (!m_trustedFingerprint.empty() && m_peerFingerprint == m_trustedFingerprint) {
        // The user trusts this one certificate for this server: only its own errors pass.
        ssl.ignoreSslErrors(errors);
        m_certProblems.clear();
        return;
    }
    for (const QSslError& e : errors) {
        const CertProblem problem = problemOf(e.error());
        if (std::find(m_certProblems.begin(), m_certProblems.end(), problem) == m_certProblems.end())
            m_certProblems.push_back(problem);
    }
    if (!m_trustedFingerprint.empty())
        m_certProblems.push_back(CertProblem::PinMismatch);
}

void TSocketBase::failTls(const std::string& why) {
    std::vector<CertProblem> problems = m_certProblems;
    if (problems.empty())
        problems.push_back(CertProblem::Handshake);
    std::string text = "TLS: " + why;
    if (!m_certProblems.empty()) {
        text = "TLS: サーバーの証明書を確認できないため、接続を中止しました（";
        for (std::size_t i = 0; i < problems.size(); ++i)
            text += std::string(i ? "、" : "") + CertProblemText(problems[i]);
        text += "）。";
    }
    if (!m_peerFingerprint.empty())
        text += "\n証明書の SHA-256 指紋: " + m_peerFingerprint;
    const bool pinMismatch =
        std::find(problems.begin(), problems.end(), CertProblem::PinMismatch) != problems.end();
    if (pinMismatch)
        text += "\n信頼済みの指紋: " + m_trustedFingerprint;
    const std::string fingerprint = m_peerFingerprint;
    const std::string pinned = pinMismatch ? m_trustedFingerprint : std::string();
    RequestCloseSocket();
    m_received.clear();
    throw TlsError(text, std::move(problems), fingerprint, pinned);
}

void TSocketBase::StartTls(const std::string& trustedFingerprint) {
    Status(ReportSteps, "Start TLS");
    m_certProblems.clear();
    m_peerFingerprint.clear();
    m_trustedFingerprint = trustedFingerprint;
    auto* ssl = qobject_cast<QSslSocket*>(m_socket);
    if (!ssl || !QSslSocket::supportsSsl())
        failTls("この環境では TLS を使えません。");
    if (!m_connected)
        failConnection(m_peerClosed ? ClosedByPeerText : ErrorText(kNotConnected));
    // Nothing received in plain text may be taken for a reply once the connection is protected.
    m_received.clear();
    if (ssl->bytesAvailable() > 0)
        ssl->readAll();

    QSslConfiguration configuration = ssl->sslConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    configuration.setProtocol(QSsl::SecureProtocols);
    if (!extraCaCertificates().isEmpty())
        configuration.addCaCertificates(extraCaCertificates());
    ssl->setSslConfiguration(configuration);
    // The certificate must name the host as the user gave it, not the address it resolved to.
    ssl->setPeerVerifyName(QString::fromStdString(Host));

    m_ioError = false;
    m_socketErrorText.clear();
    startIoTimer();
    ssl->startClientEncryption();
    waitFor([this] { return m_encrypted || m_canceled || !m_connected || m_ioError || m_ioTimedOut; });
    stopIoTimer();
    if (m_canceled) {
        if (m_abortHook)
            m_abortHook();
        throw EAbortError("TLS handshake aborted");
    }
    if (m_encrypted && m_connected && !m_ioError)
        return;
    if (m_ioTimedOut)
        failTls("時間内にサーバーから応答がないため、TLS を開始できませんでした。");
    // The socket may have been replaced by now: its reason was kept when the error came.
    failTls("サーバーとの TLS を開始できませんでした（" + m_socketErrorText + "）。");
}

int16_t TSocketBase::ReplyCode(const std::string& line) {
    std::size_t digits = 0;
    while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9')
        ++digits;
    if (digits == 0)
        return 0;
    const unsigned long long value = std::stoull(line.substr(0, digits));
    if (value > INT16_MAX)
        throw Error("Reply code out of range: " + line);
    return static_cast<int16_t>(value);
}

std::string TSocketBase::Transaction(const std::string& command) {
    Status(ReportSteps, "Transaction");
    m_replyNumber = 0;
    Writeln(command);
    m_lastReply = ReadLn();
    if (!m_lastReply.empty()) {
        Status(ReportReplies, m_lastReply);
        m_replyNumber = ReplyCode(m_lastReply);
    }
    return m_lastReply;
}

} // namespace tessaly
