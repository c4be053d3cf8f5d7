#include "smtp/socket_base.h"

#include <QAbstractSocket>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHostInfo>
#include <QIODevice>
#include <QScopeGuard>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <thread>
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
constexpr int kReset = 10054;
constexpr qsizetype kMaxLostReply = 512; // of a reply left unread when the server closed
constexpr int kNotConnected = 10057;
constexpr qsizetype kChunk = 16383;       // bytes moved per read or write step
constexpr qsizetype kWriteLimit = 16384;  // the most Write sends of one text
constexpr qint64 kHighWater = 4 * kChunk; // bytes queued in the socket before waiting for progress

constexpr int kQuickReplyMs = 2;         // see receiveSoon
constexpr std::chrono::microseconds kSpin{50};          // ditto
constexpr std::chrono::microseconds kQuickServer{200}; // ditto
// Looking while the server answers needs a processor of its own for each.
const bool kSpinning = std::thread::hardware_concurrency() > 1;
constexpr std::size_t kMaxReplyLines = 1000; // a reply longer than this is not a reply but a flood

const char* const kHostLookupTimedOut = "Host Lookup Timed Out";
const char* const kHostLookupCanceled = "Host Lookup Canceled";

// Authorities that tests add to the system's; empty in the program.
QList<QSslCertificate>& extraCaCertificates() {
    static QList<QSslCertificate> certificates;
    return certificates;
}

template <typename E> SocketFailure failure(WaitEnd end, const std::string& text, E error) {
    return {end, text, std::make_exception_ptr(std::move(error))};
}

} // namespace

const char* const TSocketBase::ClosedByPeerText = "サーバーが接続を切りました。";
const char* const TSocketBase::ReplyTimedOutText = "待ち時間のうちにサーバーから応答がありませんでした。";
const char* const TSocketBase::SendTimedOutText = "待ち時間のうちにサーバーがデータを受け取りませんでした。";

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

TTimeoutTimer::TTimeoutTimer(QObject* parent) : QObject(parent) {}

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

QDeadlineTimer TTimeoutTimer::Deadline() const {
    return m_running ? m_due : QDeadlineTimer(QDeadlineTimer::Forever);
}

void TTimeoutTimer::rearm() {
    m_running = m_interval != 0 && m_enabled && m_onTimer;
    if (m_running)
        m_due = QDeadlineTimer(std::chrono::milliseconds(m_interval));
}

void TTimeoutTimer::Expire() {
    if (!m_running)
        return;
    m_due = QDeadlineTimer(std::chrono::milliseconds(m_interval));
    const TNotifyEvent handler = m_onTimer; // the handler may replace itself
    try {
        handler(this);
    } catch (...) {
        // It fires inside a wait: nothing may end that wait but the time-out itself.
    }
}

// ---------------------------------------------------------------- TSocketBase

TSocketBase::TSocketBase(QObject* parent)
    : QObject(parent), m_socket(new QTcpSocket(this)), m_timer(new TTimeoutTimer(this)), m_wake(new QTimer(this)) {
    Status(ReportSteps, "Create");
    m_timer->SetEnabled(false);
    m_timer->SetOnTimer([this](QObject*) { TimerTriggered(); });
    m_wake->setSingleShot(true); // its tick only wakes the wait, which reads its own deadline
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
    m_phase = SocketPhase::NotConnected;
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
    m_plain = SocketKind != SocketType::Tls;
    if (!m_plain) {
        auto* ssl = new QSslSocket(this);
        m_socket = ssl;
        connect(ssl, &QSslSocket::encrypted, this, [this, ssl] {
            safely([&] {
                m_certificate.Passed(ssl->peerCertificate());
                if (m_phase == SocketPhase::Handshaking)
                    m_phase = SocketPhase::Connected;
            });
        });
        connect(ssl, &QSslSocket::sslErrors, this, [this, ssl](const QList<QSslError>& errors) {
            safely([&] { m_certificate.Review(*ssl, errors); });
        });
    } else {
        m_socket = new QTcpSocket(this);
    }
    attachSocket();
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
    // A report must not change the course of what it reports on.
    if (OnStatus && !m_destroying)
        safely([&] { OnStatus(this, text); });
}

bool TSocketBase::Connected() const {
    return m_phase == SocketPhase::Handshaking || m_phase == SocketPhase::Connected ||
           m_phase == SocketPhase::Closing;
}

qintptr TSocketBase::SocketDescriptor() const { return m_socket->socketDescriptor(); }

// ---------------------------------------------------------------- the wait

// Runs the event loop, sleeping until events come, and looks at the state after each batch.
// Everything a wait ends on is set by a handler of such an event (socket signals, Cancel from a
// user command, the wake-up at the deadline), so no wake-up is ever missed.
WaitEnd TSocketBase::wait(const std::function<bool()>& done, WaitKind kind) {
    const bool opening = kind == WaitKind::Opening;
    bool started = false;
    // Ends at the deadline at the latest (never, with TimeOut 0, unless stopped or closed).
    for (;;) {
        if (m_canceled)
            return WaitEnd::Stopped;
        if (done())
            return WaitEnd::Done;
        if (opening ? m_phase == SocketPhase::Failed : !Connected())
            return m_phase == SocketPhase::ClosedByPeer ? WaitEnd::Closed : WaitEnd::Failed;
        if (!started && !opening)
            m_deadline = TimeOut > 0 ? QDeadlineTimer(TimeOut) : QDeadlineTimer(QDeadlineTimer::Forever);
        started = true;
        const QDeadlineTimer deadline = opening ? m_timer->Deadline() : m_deadline;
        if (deadline.hasExpired()) {
            if (opening)
                m_timer->Expire(); // TimerTriggered
            return WaitEnd::TimedOut;
        }
        wakeAt(deadline);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

// The wake-up keeps running across waits and is started again only when it would come after the
// deadline, so that a wait costs no timer registration; one that comes early wakes a wait that
// then sleeps on until its deadline.
void TSocketBase::wakeAt(const QDeadlineTimer& deadline) {
    if (deadline.isForever() || (m_wake->isActive() && !(m_wakeDue > deadline)))
        return;
    m_wake->start(static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, INT32_MAX)));
    m_wakeDue = deadline;
}

void TSocketBase::progressed() {
    if (TimeOut > 0)
        m_deadline = QDeadlineTimer(TimeOut);
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
    safely([this] {
        m_phase = SocketPhase::Connected;
        // The header, the body and the final "." go out as separate small writes; with Nagle's
        // algorithm each message would stall on the peer's delayed acknowledgement.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (OnConnect)
            OnConnect(this);
    });
}

void TSocketBase::onReadyRead() {
    safely([this] {
        Status(ReportSteps, "ReadToStream");
        if (m_canceled && m_abortHook)
            m_abortHook();
        receive();
    });
}

void TSocketBase::receive() {
    // One read per notification: more data left behind notifies again on the next loop pass.
    // A TLS socket buffers what it decrypted and notifies once for it: take it all.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_received += m_plain ? m_socket->read(kChunk) : m_socket->readAll();
    // An unbuffered socket learns of the peer's close by the read that returns nothing.
    if (Connected() && m_socket->state() == QAbstractSocket::UnconnectedState)
        peerClosed();
}

// A server nearby answers within a fraction of a millisecond, and a pass of the whole event loop
// costs more than the system calls of the exchange. So for a short while the wait for a reply asks
// the system about the connection alone, and takes the reply as a notification would. A slower
// reply, a stop, and a TLS socket (which decrypts on notifications of its own) go through the
// event loop; the user's input waits at most this long more.
void TSocketBase::receiveSoon() {
    if (m_canceled || !Connected() || !m_plain)
        return;
    const qintptr descriptor = m_socket->socketDescriptor();
    if (descriptor < 0)
        return;
    // After work done while the server answered, the reply is most likely there already.
    bool took = false;
    if (std::exchange(m_workedWhileAwaiting, false))
        safely([&] { took = receiveNow(static_cast<int>(descriptor)); });
    if (took)
        return;
    // A reply that comes within microseconds comes sooner than a sleeping process is woken for it:
    // while the server answers quickly, the wait looks for the reply for a few microseconds first.
    // A distant server's reply never comes that fast, so its waits never spin.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point asked = Clock::now();
    if (m_quickServer && kSpinning) {
        const Clock::time_point until = asked + kSpin;
        do {
            safely([&] { took = receiveNow(static_cast<int>(descriptor)); });
            if (took)
                return;
        } while (Clock::now() < until);
    }
    pollfd ready{static_cast<int>(descriptor), POLLIN, 0};
    const int wait = TimeOut > 0 ? std::min(TimeOut, kQuickReplyMs) : kQuickReplyMs;
    int n;
    do {
        n = ::poll(&ready, 1, wait);
    } while (n < 0 && errno == EINTR);
    if (n > 0)
        safely([this, descriptor] { receiveNow(static_cast<int>(descriptor)); });
    m_quickServer = n > 0 && Clock::now() - asked < kQuickServer;
}

// The socket's own read of a plain connection costs more than the system call it makes, so
// receiveSoon takes the bytes from the system itself. Qt is not waiting for them: it has told of
// no data that it has not read. An end or an error of the connection is left to the socket's own
// read, which tells them as it always has.
bool TSocketBase::receiveNow(int descriptor) {
    char bytes[kChunk];
    ssize_t n;
    do {
        n = ::recv(descriptor, bytes, sizeof bytes, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        m_received.append(bytes, n);
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return false;
    receive();
    return true;
}

// What a plain connection's socket does not hold yet goes to the system directly, for the same
// reason; what the system does not take at once goes through the socket, after it, as before. A
// failed send is the socket's own write's to find and tell.
bool TSocketBase::queue(const QByteArray& chunk) {
    qsizetype done = 0;
    const qintptr descriptor = m_plain && m_socket->bytesToWrite() == 0 ? m_socket->socketDescriptor() : -1;
    while (descriptor >= 0 && done < chunk.size()) {
        const ssize_t n = ::send(static_cast<int>(descriptor), chunk.constData() + done,
                                 static_cast<std::size_t>(chunk.size() - done), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    const qsizetype rest = chunk.size() - done;
    return rest == 0 || m_socket->write(chunk.constData() + done, rest) == rest;
}

void TSocketBase::onBytesWritten(qint64) {
    safely([this] {
        reportProgress();
        pump();
    });
}

void TSocketBase::onErrorOccurred(int error) {
    safely([&] {
        m_socketErrorText = m_socket->errorString().toStdString();
        m_lastErrorNo = SocketErrorNumber(error);
        if (error == QAbstractSocket::RemoteHostClosedError && Connected())
            peerClosed();
        else if (Connected() || m_phase == SocketPhase::Connecting)
            m_phase = SocketPhase::Failed;
        if (OnError)
            OnError(this, m_lastErrorNo, ErrorText(m_lastErrorNo));
    });
}

void TSocketBase::onDisconnected() {
    safely([this] { peerClosed(); });
}

void TSocketBase::peerClosed() {
    // Keep what the server sent before it closed, then release the socket.
    if (m_socket->isReadable())
        m_received += m_socket->readAll();
    if (Connected())
        m_phase = SocketPhase::ClosedByPeer;
    RequestCloseSocket();
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
    m_lookupAddresses.clear();
    m_phase = SocketPhase::LookingUp;
    TimerOn();
    m_lookupId = QHostInfo::lookupHost(host, this, [this](const QHostInfo& info) {
        if (info.lookupId() != m_lookupId || m_phase != SocketPhase::LookingUp)
            return;
        for (const QHostAddress& a : info.addresses())
            m_lookupAddresses.push_back(a);
        const bool found = info.error() == QHostInfo::NoError && !m_lookupAddresses.empty();
        m_phase = found ? SocketPhase::NotConnected : SocketPhase::Failed;
    });
    const WaitEnd end = wait([this] { return m_phase == SocketPhase::NotConnected; }, WaitKind::Opening);
    TimerOff();
    if (m_phase == SocketPhase::LookingUp)
        QHostInfo::abortHostLookup(m_lookupId);
    m_lookupId = -1;
    m_phase = SocketPhase::NotConnected;
    switch (end) {
    case WaitEnd::Done:
        break;
    case WaitEnd::TimedOut:
        throw ESockError(kHostLookupTimedOut);
    case WaitEnd::Stopped:
        throw ESockError(kHostLookupCanceled);
    default:
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
    if (Connected())
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

    m_received.clear();
    m_quickServer = false; // learnt anew for each connection
    const bool tls = SocketKind == SocketType::Tls;
    if (tls != (qobject_cast<QSslSocket*>(m_socket) != nullptr) ||
        m_socket->state() != QAbstractSocket::UnconnectedState)
        replaceSocket();
    WaitEnd end = WaitEnd::Failed;
    if (Port > 0 && Port <= 65535) {
        m_phase = SocketPhase::Connecting;
        // A TLS socket keeps its own buffers (it must, to decrypt); a plain one reads the system's.
        m_socket->connectToHost(m_address, static_cast<quint16>(Port),
                                tls ? QIODevice::ReadWrite : QIODevice::ReadWrite | QIODevice::Unbuffered);
        TimerOn();
        end = wait([this] { return m_phase == SocketPhase::Connected; }, WaitKind::Opening);
        TimerOff();
    } else {
        // A port outside 1..65535 cannot be reached; never connect to a truncated number.
        m_lastErrorNo = 10049;
    }
    if (end == WaitEnd::Done)
        return;

    replaceSocket();
    m_phase = SocketPhase::NotConnected;
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (end == WaitEnd::TimedOut)
        throw ESockError("Connection Timed out");
    if (end == WaitEnd::Stopped)
        throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TSocketBase::Disconnect() {
    Status(ReportSteps, "Disconnecting");
    RequestCloseSocket();
}

void TSocketBase::RequestCloseSocket() {
    Status(ReportBuffers, "Request Close Socket");
    // A close by the peer or by an error stays known as such until the next Connect.
    if (Connected())
        m_phase = SocketPhase::NotConnected;
    else if (m_phase == SocketPhase::Connecting)
        m_phase = SocketPhase::Failed;
    if (!m_destroying)
        replaceSocket(); // a fresh socket waits for the next Connect
    if (OnDisconnect && !m_destroying)
        OnDisconnect(this);
}

void TSocketBase::BeginClosing() {
    if (Connected())
        m_phase = SocketPhase::Closing;
}

void TSocketBase::DropConnection() {
    safely([this] { RequestCloseSocket(); });
    m_received.clear();
}

void TSocketBase::Cancel() {
    Status(ReportSteps, "Canceling");
    m_canceled = true;
}

bool TSocketBase::AskForConnection() {
    if (Connected())
        return true;
    bool handled = false;
    if (OnConnectionRequired)
        OnConnectionRequired(handled);
    return handled && Connected();
}

void TSocketBase::EnsureConnected() {
    if (!AskForConnection())
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

// ---------------------------------------------------------------- failures as values

SocketFailure TSocketBase::lost(WaitEnd end, const std::string& text) {
    // A connection that failed in the middle of an exchange cannot be trusted for the next one.
    DropConnection();
    return failure(end, text, ESockError(text));
}

SocketFailure TSocketBase::stopped(const char* text) {
    // What was sent is still owed its reply, or the peer is mid-message: the abort hook gives the
    // connection up, so that nothing of it is taken for the next exchange.
    if (m_abortHook)
        safely([this] { m_abortHook(); });
    return failure(WaitEnd::Stopped, text, EAbortError(text));
}

std::string TSocketBase::LastWords() const {
    // A server that gives up says why first ("421 4.4.2 idle too long") and then closes; that
    // reply, unread, is what the user needs to know.
    const QByteArray said = m_received.left(kMaxLostReply).trimmed();
    if (said.isEmpty() || !ParseReplyLine(said.toStdString()).Coded)
        return {};
    std::string shown;
    for (const char c : said) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n')
            shown += "\r\n";
        else if (u >= 0x20 && u < 0x7F)
            shown += c;
    }
    return shown;
}

std::string TSocketBase::connectionLostText() const {
    if (m_phase == SocketPhase::ClosedByPeer || m_lastErrorNo == kReset) {
        const std::string said = LastWords();
        return said.empty() ? std::string(ClosedByPeerText) : std::string(ClosedByPeerText) + "\r\n" + said;
    }
    if (m_phase == SocketPhase::Failed && m_lastErrorNo != 0)
        return ErrorText(m_lastErrorNo);
    return ErrorText(kNotConnected);
}

// ---------------------------------------------------------------- sending

void TSocketBase::pump() {
    if (m_pumping || !m_outgoing)
        return;
    m_pumping = true;
    const auto pumped = qScopeGuard([this] { m_pumping = false; });
    Status(ReportSteps, "WriteFromStream");
    // Bounded: each pass either queues more bytes or stops because the source ended or failed or
    // the system took less than the socket held.
    while (!m_canceled && m_socket->state() == QAbstractSocket::ConnectedState) {
        bool sourceFailed = false;
        while (m_socket->bytesToWrite() < kHighWater && !sourceAtEnd()) {
            const QByteArray chunk = readSource();
            if (chunk.isEmpty()) {
                sourceFailed = true;
                break;
            }
            if (!queue(chunk)) {
                if (Connected())
                    m_phase = SocketPhase::Failed;
                return;
            }
            m_queued += chunk.size();
            reportProgress();
        }
        if (m_socket->bytesToWrite() > 0)
            m_socket->flush(); // hand the bytes to the system now, not on the next loop pass
        reportProgress();
        // What the socket still holds brings a bytesWritten when the system takes it, and with
        // it the next pass. A socket emptied here brings none when this runs inside its own
        // bytesWritten (Qt does not emit it again from there): the pump goes on by itself.
        if (sourceFailed || sourceAtEnd() || m_socket->bytesToWrite() > 0)
            break;
    }
}

void TSocketBase::reportProgress() {
    if (!m_outgoing)
        return;
    // What the system has taken: everything queued but what the socket still holds.
    const qint64 taken = m_queued - m_socket->bytesToWrite();
    if (taken <= m_outgoing->taken)
        return;
    // Every send counts; SendStream starts the count at 0, so the final "." adds to its total.
    m_bytesSent += taken - m_outgoing->taken;
    m_outgoing->taken = taken;
    if (m_outgoing->counting && OnPacketSent)
        safely([this] { OnPacketSent(this); });
    progressed(); // the limit of a send counts from the last chunk taken
}

bool TSocketBase::sourceAtEnd() const {
    return m_outgoing->source ? m_outgoing->source->atEnd() : m_outgoing->position >= m_outgoing->bytes.size();
}

QByteArray TSocketBase::readSource() {
    if (m_outgoing->source)
        return m_outgoing->source->read(kChunk);
    const QByteArray chunk = m_outgoing->bytes.mid(m_outgoing->position, kChunk);
    m_outgoing->position += chunk.size();
    return chunk;
}

bool TSocketBase::sent() const { return m_outgoing && sourceAtEnd() && m_outgoing->taken == m_queued; }

SocketFailure TSocketBase::send(QIODevice* source, const QByteArray& bytes, bool counting) {
    m_queued = 0;
    if (m_canceled) {
        // A text is simply not sent: the reply wait that follows it reports the cancel. A stream
        // is the body after DATA, so the peer is mid-message and the connection is given up.
        if (!source)
            return {};
        m_canceled = false;
        return stopped("Socket send aborted");
    }
    if (!Connected())
        return lost(m_phase == SocketPhase::ClosedByPeer ? WaitEnd::Closed : WaitEnd::Failed, connectionLostText());
    m_outgoing = Outgoing{source, bytes, 0, counting, 0};
    pump();
    const WaitEnd end = wait([this] { return sent(); }, WaitKind::Exchange);
    m_outgoing.reset();
    switch (end) {
    case WaitEnd::Done:
        return {};
    case WaitEnd::Stopped:
        m_canceled = false;
        return stopped("Socket send aborted");
    case WaitEnd::TimedOut:
        return lost(end, SendTimedOutText);
    default:
        return lost(end, connectionLostText());
    }
}

SocketFailure TSocketBase::sendAll(const QByteArray& bytes) {
    Status(ReportBuffers, "Sending Buffer");
    return send(nullptr, bytes, false);
}

// At most kWriteLimit bytes of `text` and then of `end`, and nothing from the first zero byte on.
static QByteArray writable(const std::string& text, std::string_view end = {}) {
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(std::min(text.size() + end.size(), static_cast<std::size_t>(kWriteLimit))));
    bytes.append(text.data(), static_cast<qsizetype>(std::min(text.size(), static_cast<std::size_t>(kWriteLimit))));
    bytes.append(end.data(), std::min(static_cast<qsizetype>(end.size()), kWriteLimit - bytes.size()));
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return bytes;
}

SocketFailure TSocketBase::sendText(const std::string& text, std::string_view end) {
    Status(ReportSteps, "Write");
    return sendAll(writable(text, end));
}

SocketFailure TSocketBase::sendLine(const std::string& text) {
    Status(ReportSteps, "Writeln");
    return sendText(text, "\r\n");
}

SocketFailure TSocketBase::sendStream(QIODevice& stream) {
    Status(ReportSteps, "SendStream");
    if (!m_canceled) {
        Status(ReportSteps, "SendFile");
        m_bytesSent = 0;
        m_bytesTotal = stream.size();
        stream.seek(0);
    }
    return send(&stream, {}, true);
}

void TSocketBase::WriteAll(const QByteArray& bytes) {
    if (const SocketFailure f = sendAll(bytes))
        f.Raise();
}

void TSocketBase::Write(const std::string& text) {
    if (const SocketFailure f = sendText(text))
        f.Raise();
}

void TSocketBase::Writeln(const std::string& text) {
    if (const SocketFailure f = sendLine(text))
        f.Raise();
}

void TSocketBase::SendStream(QIODevice& stream) {
    if (const SocketFailure f = sendStream(stream))
        f.Raise();
}

// ---------------------------------------------------------------- receiving

SocketFailure TSocketBase::readLine(std::string& line) {
    Status(ReportSteps, "ReadLn");
    qsizetype lf = -1;
    if (!m_received.contains('\n'))
        receiveSoon();
    const WaitEnd end = wait([&] { return (lf = m_received.indexOf('\n')) >= 0; }, WaitKind::Exchange);
    switch (end) {
    case WaitEnd::Done:
        line.assign(m_received.constData(), static_cast<std::size_t>(lf + 1));
        m_received.remove(0, lf + 1);
        return {};
    case WaitEnd::Stopped:
        return stopped("Socket readln aborted"); // Canceled stays set
    case WaitEnd::TimedOut:
        return lost(end, ReplyTimedOutText);
    default:
        return lost(end, connectionLostText());
    }
}

SocketFailure TSocketBase::readReplyLines(std::string first, bool strict, std::vector<std::string>& lines,
                                          bool& broken) {
    broken = false;
    std::string line = std::move(first);
    const long long code = ParseReplyLine(line).Number;
    // Bounded by what the server sends and by kMaxReplyLines: every pass consumes one line.
    for (;;) {
        const ReplyLine parsed = ParseReplyLine(line);
        if (strict)
            Status(ReportReplies, line);
        lines.push_back(std::move(line));
        if (strict && (!parsed.Coded || parsed.Number != code)) {
            broken = true;
            return {};
        }
        if (!parsed.More)
            return {};
        if (lines.size() >= kMaxReplyLines) {
            broken = true;
            return {};
        }
        if (SocketFailure f = readLine(line))
            return f;
    }
}

SocketFailure TSocketBase::readReply(SmtpStep step, SmtpReply& reply) {
    reply = SmtpReply{};
    reply.Step = step;
    m_lastStep = step;
    m_replyNumber = 0;
    if (m_whileAwaitingReply) {
        std::exchange(m_whileAwaitingReply, nullptr)();
        m_workedWhileAwaiting = true;
    }
    std::string first;
    if (SocketFailure f = readLine(first))
        return f;
    bool broken = false;
    if (SocketFailure f = readReplyLines(std::move(first), true, reply.Lines, broken))
        return f;
    const ReplyLine head = ParseReplyLine(reply.Lines.front());
    reply.Code = head.Coded ? static_cast<int>(head.Number) : 0;
    m_lastReply = reply.Text();
    if (broken) {
        const std::string text =
            std::string(StepName(step)) + ": サーバーの応答が読めないため、接続を切りました。\n" + m_lastReply;
        DropConnection();
        return failure(WaitEnd::Done, text, ProtocolError(text, reply));
    }
    m_replyNumber = static_cast<int16_t>(reply.Code);
    return {};
}

SocketFailure TSocketBase::skipContinuation(std::string& line) {
    std::vector<std::string> lines;
    bool broken = false;
    if (SocketFailure f = readReplyLines(line, false, lines, broken))
        return f;
    if (broken) {
        SmtpReply reply;
        reply.Lines = std::move(lines);
        const std::string text =
            std::string(StepName(reply.Step)) + ": サーバーの応答が読めないため、接続を切りました。\n" + reply.Lines.back();
        DropConnection();
        return failure(WaitEnd::Done, text, ProtocolError(text, std::move(reply)));
    }
    line = std::move(lines.back());
    return {};
}

SocketFailure TSocketBase::command(const std::string& command, SmtpStep step, SmtpReply& reply) {
    Status(ReportSteps, "Transaction");
    reply = SmtpReply{};
    reply.Step = step;
    m_lastStep = step;
    m_replyNumber = 0;
    if (SocketFailure f = sendLine(command))
        return f;
    return readReply(step, reply);
}

std::string TSocketBase::ReadLn() {
    std::string line;
    if (const SocketFailure f = readLine(line))
        f.Raise();
    return line;
}

SmtpReply TSocketBase::ReadReply(SmtpStep step) {
    SmtpReply reply;
    if (const SocketFailure f = readReply(step, reply))
        f.Raise();
    return reply;
}

SmtpReply TSocketBase::Command(const std::string& command, SmtpStep step) {
    SmtpReply reply;
    if (const SocketFailure f = this->command(command, step, reply))
        f.Raise();
    return reply;
}

int16_t TSocketBase::ReplyCode(const std::string& line) {
    const long long value = ParseReplyLine(line).Number;
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

// ---------------------------------------------------------------- TLS

void TSocketBase::SetExtraCaCertificates(const QByteArray& pem) {
    extraCaCertificates() = QSslCertificate::fromData(pem, QSsl::Pem);
}

bool TSocketBase::Encrypted() const {
    const auto* ssl = qobject_cast<const QSslSocket*>(m_socket);
    return ssl && ssl->isEncrypted() && Connected();
}

bool TSocketBase::PeerIsLoopback() const { return Connected() && m_address.isLoopback(); }

void TSocketBase::failTls(const std::string& why) {
    std::vector<CertProblem> problems = m_certificate.Problems();
    if (problems.empty())
        problems.push_back(CertProblem::Handshake);
    const std::string text = m_certificate.FailureText(why);
    const std::string fingerprint = m_certificate.Fingerprint();
    const std::string pinned = m_certificate.PinMismatched() ? m_certificate.Trusted() : std::string();
    DropConnection();
    throw TlsError(text, std::move(problems), fingerprint, pinned);
}

void TSocketBase::StartTls(const std::string& trustedFingerprint) {
    Status(ReportSteps, "Start TLS");
    m_certificate.Begin(trustedFingerprint);
    auto* ssl = qobject_cast<QSslSocket*>(m_socket);
    if (!ssl || !QSslSocket::supportsSsl())
        failTls("この環境では TLS を使えません。");
    if (!Connected())
        lost(m_phase == SocketPhase::ClosedByPeer ? WaitEnd::Closed : WaitEnd::Failed, connectionLostText()).Raise();
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

    m_socketErrorText.clear();
    m_phase = SocketPhase::Handshaking;
    ssl->startClientEncryption();
    switch (wait([this] { return m_phase == SocketPhase::Connected; }, WaitKind::Exchange)) {
    case WaitEnd::Done:
        return;
    case WaitEnd::Stopped:
        stopped("TLS handshake aborted").Raise();
    case WaitEnd::TimedOut:
        failTls("時間内にサーバーから応答がないため、TLS を開始できませんでした。");
    default:
        // The socket may have been replaced by now: its reason was kept when the error came.
        failTls("サーバーとの TLS を開始できませんでした（" + m_socketErrorText + "）。");
    }
}

} // namespace tessaly
