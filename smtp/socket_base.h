// One TCP client connection driven from the thread that owns the windows: TSocketBase, the base of
// the SMTP client, with its time-out timer TTimeoutTimer and the socket error table.
//
// Every wait (host lookup, connect, TLS handshake, send progress, a reply) is one function: a
// nested event loop that runs until its condition holds, Cancel() is called, its one deadline
// passes, or the connection closes or fails, and says which of these ended it. Socket and timer
// slots never throw: they record what happened in the phase and the buffers, and the waiting
// function raises after its loop has returned.
#pragma once

#include "common/errors.h"
#include "smtp/certificate_check.h"
#include "smtp/smtp_reply.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QObject>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QIODevice;
class QSslSocket;
class QTcpSocket;
class QTimer;

namespace tessaly {

// Socket and connection failures.
class ESockError : public Error {
public:
    using Error::Error;
};

// A wait that Cancel() ended.
class EAbortError : public Error {
public:
    using Error::Error;
};

// A reply that breaks the reply syntax: a line without a code, or lines whose codes differ. The
// exchange cannot go on in step with the server, so the connection is closed.
class ProtocolError : public ESockError {
public:
    ProtocolError(const std::string& text, SmtpReply reply) : ESockError(text), Reply(std::move(reply)) {}
    SmtpReply Reply; // the lines read so far
};

// The TLS handshake failed or the certificate was refused; nothing was sent over the connection.
class TlsError : public ESockError {
public:
    TlsError(const std::string& text, std::vector<CertProblem> problems, std::string fingerprint,
             std::string pinnedFingerprint)
        : ESockError(text), Problems(std::move(problems)), Fingerprint(std::move(fingerprint)),
          PinnedFingerprint(std::move(pinnedFingerprint)) {}
    std::vector<CertProblem> Problems;
    std::string Fingerprint;       // SHA-256 of the server's certificate, 64 lowercase hex digits; "" when none came
    std::string PinnedFingerprint; // the trusted fingerprint it did not match, or ""
};

using TNotifyEvent = std::function<void(QObject* Sender)>;
using THandlerEvent = std::function<void(bool& Handled)>;
using TOnHostResolved = std::function<void(QObject* Sender)>;
using TOnStatus = std::function<void(QObject* Sender, const std::string& Status)>;
using TOnError = std::function<void(QObject* Sender, int ErrorNo, const std::string& ErrorText)>;

// "<number>:<text>" for a number of the socket error table, "" for 0,
// "Unknown Error No. <number>" for any other number.
std::string ErrorText(int number);
// The table number that fits a QAbstractSocket::SocketError (10061 for a refused connection, ...);
// -1 when none fits.
int SocketErrorNumber(int qtSocketError);

// The time-out of host lookup and connection: while it is enabled, has an interval and a
// handler, the handler fires each time the interval has passed. Like every other event of the
// socket it is handled only inside the socket's waits, which end at its deadline.
class TTimeoutTimer : public QObject {
public:
    explicit TTimeoutTimer(QObject* parent = nullptr);

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return m_interval; }
    void SetInterval(unsigned ms);
    void SetOnTimer(TNotifyEvent handler);
    bool Running() const { return m_running; }
    // When the handler fires next; never while the timer does not run.
    QDeadlineTimer Deadline() const;
    // The deadline has passed: starts the next interval and fires the handler, which must not throw.
    void Expire();

private:
    void rearm();

    bool m_enabled = true;
    unsigned m_interval = 1000;
    TNotifyEvent m_onTimer;
    bool m_running = false;
    QDeadlineTimer m_due;
};

// The kind of socket a connection uses: plain TCP, or one able to speak TLS.
enum class SocketType { Plain, Tls };

// Where the connection stands.
enum class SocketPhase {
    NotConnected, // a fresh socket waits for Connect
    LookingUp,    // the host name is being resolved
    Connecting,   // the TCP connection is being opened
    Handshaking,  // connected; TLS is being negotiated
    Connected,
    Closing,      // the goodbye is under way; the connection closes after it
    ClosedByPeer, // the server closed the connection
    Failed,       // a socket error ended the lookup, the connection attempt or the connection
};

// How a wait ended.
enum class WaitEnd { Done, Stopped, TimedOut, Closed, Failed };

// A step of the exchange that did not succeed, as a value: how its wait ended, and the error
// that the raising operations (Write, SendStream, ReadLn, ReadReply) throw for it. A reply that
// breaks the syntax came whole: its wait ended Done.
struct SocketFailure {
    WaitEnd End = WaitEnd::Done;
    std::string Text;
    std::exception_ptr Exception; // null: the step succeeded
    explicit operator bool() const { return Exception != nullptr; }
    [[noreturn]] void Raise() const { std::rethrow_exception(Exception); }
};

class TSocketBase : public QObject {
public:
    explicit TSocketBase(QObject* parent = nullptr);
    ~TSocketBase() override;

    // --- properties
    std::string Host;  // name or dotted IPv4 address
    int Port = 0;
    int TimeOut = 0;   // ms; host lookup, connect, and each wait for a reply or a send; 0 = no limit
    int ReportLevel = 0;

    // --- events
    TNotifyEvent OnConnect;          // the socket reported the connection as made
    TNotifyEvent OnDisconnect;       // the socket was closed
    THandlerEvent OnInvalidHost;     // the host name could not be resolved (asked once)
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;              // a report; what the handler throws is dropped
    TNotifyEvent OnConnectionFailed;
    THandlerEvent OnConnectionRequired; // asked once by EnsureConnected
    TNotifyEvent OnPacketSent;       // after each chunk of a SendStream left the socket
    TOnError OnError;

    // --- operations
    virtual void Connect();
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& command);
    virtual void Abort() {}

    void ResolveHost();
    void RequestCloseSocket();
    void Cancel();
    void EnsureConnected();

    // Sends at most 16384 bytes of `text`, and nothing from its first zero byte on; sends nothing
    // while Canceled is set (the next ReadLn then reports the cancel).
    void Write(const std::string& text);
    void Writeln(const std::string& text);
    // Sends the whole stream from its start, counting BytesSent of BytesTotal.
    void SendStream(QIODevice& stream);
    // The next received line up to and including its line feed; the rest stays buffered.
    std::string ReadLn();
    // One whole reply (every line of it), answering `step`; sets ReplyNumber and LastReply (all
    // lines). A line without a code, or lines whose codes differ, raise ProtocolError and close
    // the connection.
    SmtpReply ReadReply(SmtpStep step);
    // Sends `command` and reads its whole reply.
    SmtpReply Command(const std::string& command, SmtpStep step);

    // --- TLS
    // The socket the next Connect opens. Tls is needed for StartTls.
    SocketType SocketKind = SocketType::Plain;
    // Starts TLS on the open connection and waits for the handshake, with the same time-out and
    // cancel as every other wait. The certificate must verify against the system's authorities
    // and Host (the name as given, not the address); a certificate that does not is still
    // accepted when its SHA-256 fingerprint equals `trustedFingerprint`. Raises TlsError (the
    // connection is closed then).
    void StartTls(const std::string& trustedFingerprint);
    bool Encrypted() const;
    // SHA-256 of the certificate the server presented, lowercase hex; "" before any handshake.
    const std::string& PeerFingerprint() const { return m_certificate.Fingerprint(); }
    // True when the connected address is a loopback address.
    bool PeerIsLoopback() const;
    // Authorities trusted for every later handshake of every socket (PEM data; tests give the
    // authority they made), added to the socket's own list without reading the system's whole
    // store, which would cost a test run far more than its handshakes. Replaces the previous set.
    static void SetExtraCaCertificates(const QByteArray& pem);

    // --- state
    SocketPhase Phase() const { return m_phase; }
    bool Connected() const;
    bool Canceled() const { return m_canceled; }
    bool TimedOut() const { return m_timedOut; }
    int16_t ReplyNumber() const { return m_replyNumber; }
    // The step of the last command sent or reply awaited (Other before any).
    SmtpStep LastStep() const { return m_lastStep; }
    // The reply the server sent and nobody read before it closed the connection (a 421 that
    // says why), printable and with CR LF line ends; empty when there is none.
    std::string LastWords() const;
    const std::string& LastReply() const { return m_lastReply; }
    int LastErrorNo() const { return m_lastErrorNo; }
    const std::string& LastStatus() const { return m_lastStatus; }
    qint64 BytesSent() const { return m_bytesSent; }
    qint64 BytesTotal() const { return m_bytesTotal; }
    QHostAddress RemoteAddress() const { return m_address; }
    qintptr SocketDescriptor() const; // -1 when no connection is open

    // Work that need not hold the exchange up: done once, as soon as the next reply is awaited
    // (the command or data it answers is out) and while the server prepares it; nothing (an
    // empty function) drops it. It must not throw.
    void WhileAwaitingReply(std::function<void()> work) { m_whileAwaitingReply = std::move(work); }

    // Status report levels.
    static constexpr int ReportReplies = 1;
    static constexpr int ReportBuffers = 4;
    static constexpr int ReportSteps = 8;
    static constexpr int ReportErrors = 16;

    // Texts of the failures raised here.
    static const char* const ClosedByPeerText;
    static const char* const ReplyTimedOutText;
    static const char* const SendTimedOutText;

protected:
    void Status(int level, const std::string& text);
    void ErrorManager(int expected);
    void TimerOn();
    void TimerOff();
    void TimerTriggered();

    // The operations above as values: each returns how it failed instead of raising it.
    SocketFailure sendText(const std::string& text, std::string_view end = {}); // Write, then `end` under the same cut
    SocketFailure sendLine(const std::string& text);    // Writeln
    SocketFailure sendAll(const QByteArray& bytes);     // all of `bytes`, without the cut of Write
    SocketFailure sendStream(QIODevice& stream);        // SendStream
    SocketFailure readLine(std::string& line);          // ReadLn
    SocketFailure readReply(SmtpStep step, SmtpReply& reply);                              // ReadReply
    SocketFailure command(const std::string& command, SmtpStep step, SmtpReply& reply);    // Command
    // Reads the rest of the reply that `line` begins, replacing it by its last line (see
    // SkipContinuationLines).
    SocketFailure skipContinuation(std::string& line);

    // Sends all of `bytes`, without the cut of Write.
    void WriteAll(const QByteArray& bytes);
    // Of the last send, the bytes handed to the socket (all of them once it succeeded).
    qint64 BytesQueued() const { return m_queued; }
    // The leading decimal digits of a reply line (at most 10) as a reply code; 0 when there are
    // none. A code beyond the 16-bit range is refused.
    static int16_t ReplyCode(const std::string& line);
    void SetReplyNumber(int16_t n) { m_replyNumber = n; }
    void ClearCanceled() { m_canceled = false; }
    void ClearReceiveBuffer() { m_received.clear(); }
    // The goodbye has begun: the connection stays usable until it is closed.
    void BeginClosing();
    // Gives up a connection that can no longer be trusted to be in step with the server.
    void DropConnection();
    // EnsureConnected without the error: asks OnConnectionRequired when not connected.
    bool AskForConnection();
    // Called when data arrives while Canceled is set, and when a cancelled wait ends.
    std::function<void()> m_abortHook;
    bool m_destroying = false;

private:
    enum class WaitKind {
        Opening,  // lookup and connect: limited by the time-out timer, before any connection
        Exchange, // needs the connection; limited by TimeOut from its start or last progress
    };
    WaitEnd wait(const std::function<bool()>& done, WaitKind kind);
    void wakeAt(const QDeadlineTimer& deadline);
    // The wait of an exchange made progress: its limit counts from now.
    void progressed();

    void attachSocket();
    void replaceSocket();
    [[noreturn]] void failTls(const std::string& why);
    SocketFailure send(QIODevice* source, const QByteArray& bytes, bool counting);
    bool sent() const;
    bool sourceAtEnd() const;
    QByteArray readSource();
    void pump();
    void reportProgress();
    // The reply that `first` begins, line by line. Strict: every line carries the first line's
    // well-formed code. `broken` tells a reply that breaks that rule or runs too long.
    SocketFailure readReplyLines(std::string first, bool strict, std::vector<std::string>& lines, bool& broken);
    // Closes the connection after a failed step of the exchange and gives the failure.
    SocketFailure lost(WaitEnd end, const std::string& text);
    SocketFailure stopped(const char* text);
    std::string connectionLostText() const;
    template <typename F> void safely(F&& f) noexcept;

    void onConnected();
    void onReadyRead();
    // Takes what the connection has received (one read), and notes a close by the peer.
    void receive();
    // Before a reply wait runs the event loop: takes a reply that comes at once.
    void receiveSoon();
    // Takes what the system has received, without waiting; false when it had nothing.
    bool receiveNow(int descriptor);
    // Hands `chunk` on to be sent; false when the socket refused it.
    bool queue(const QByteArray& chunk);
    void onBytesWritten(qint64 bytes);
    void onErrorOccurred(int error);
    void onDisconnected();
    void peerClosed();

    QTcpSocket* m_socket;
    bool m_plain = true; // m_socket is not a QSslSocket
    TTimeoutTimer* m_timer;
    QTimer* m_wake; // wakes a wait at its deadline
    QDeadlineTimer m_wakeDue;
    QDeadlineTimer m_deadline; // of the running exchange wait

    SocketPhase m_phase = SocketPhase::NotConnected;
    bool m_canceled = false;
    bool m_timedOut = false;

    QHostAddress m_address;
    int m_lookupId = -1;
    std::vector<QHostAddress> m_lookupAddresses;
    QByteArray m_received;

    // The send in progress.
    struct Outgoing {
        QIODevice* source = nullptr; // or `bytes`
        QByteArray bytes;
        qsizetype position = 0;
        bool counting = false; // a SendStream: counts BytesSent and fires OnPacketSent
        qint64 taken = 0;      // of the bytes queued, those the system has taken
    };
    std::optional<Outgoing> m_outgoing;
    qint64 m_queued = 0; // bytes of the last send handed to the socket
    bool m_pumping = false;

    CertificateCheck m_certificate;
    std::string m_socketErrorText; // the socket's own words for its last error

    int16_t m_replyNumber = 0;
    SmtpStep m_lastStep = SmtpStep::Other;
    std::string m_lastReply;
    int m_lastErrorNo = 0;
    std::string m_lastStatus;
    std::function<void()> m_whileAwaitingReply;
    bool m_workedWhileAwaiting = false; // that work was done for the reply awaited now
    bool m_quickServer = false; // the last reply awaited came within a fraction of a millisecond
    qint64 m_bytesSent = 0;
    qint64 m_bytesTotal = 0;
};

} // namespace tessaly
