// One TCP client connection driven from the thread that owns the windows: TSocketBase, the base of
// the SMTP client, with its time-out timer TTimeoutTimer and the socket error table.
//
// Every wait (host lookup, connect, send, reading a line) runs a nested event loop that wakes on
// the socket's signals, the timers, Cancel() and the connection closing, so window events keep
// being handled while the client waits. Socket and timer slots never throw: they record what
// happened; the waiting function tests the flags and throws after its loop has returned.
#pragma once

#include "common/errors.h"
#include "smtp/smtp_reply.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QEventLoop;
class QIODevice;
class QSslError;
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

// Why a server's certificate was not accepted.
enum class CertProblem { Expired, NotYetValid, HostMismatch, UntrustedIssuer, SelfSigned, PinMismatch, Handshake, Other };

// The reason in words: 期限切れ, ホスト名の不一致, 発行者を確認できない, ...
const char* CertProblemText(CertProblem problem);

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

// A timer that runs only while it is enabled, has an interval and a handler.
class TTimeoutTimer : public QObject {
public:
    explicit TTimeoutTimer(QObject* parent = nullptr);

    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    unsigned Interval() const { return m_interval; }
    void SetInterval(unsigned ms);
    void SetOnTimer(TNotifyEvent handler);
    bool Running() const;

private:
    void rearm();

    QTimer* m_timer;
    bool m_enabled = true;
    unsigned m_interval = 1000;
    TNotifyEvent m_onTimer;
};

// The kind of socket a connection uses: plain TCP, or one able to speak TLS.
enum class SocketType { Plain, Tls };

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
    TOnStatus OnStatus;
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
    const std::string& PeerFingerprint() const { return m_peerFingerprint; }
    // True when the connected address is a loopback address.
    bool PeerIsLoopback() const;
    // Authorities trusted for every later handshake of every socket (PEM data; tests give the
    // authority they made), added to the socket's own list without reading the system's whole
    // store, which would cost a test run far more than its handshakes. Replaces the previous set.
    static void SetExtraCaCertificates(const QByteArray& pem);

    // --- state
    bool Connected() const { return m_connected; }
    bool Canceled() const { return m_canceled; }
    bool TimedOut() const { return m_timedOut; }
    int16_t ReplyNumber() const { return m_replyNumber; }
    const std::string& LastReply() const { return m_lastReply; }
    int LastErrorNo() const { return m_lastErrorNo; }
    const std::string& LastStatus() const { return m_lastStatus; }
    qint64 BytesSent() const { return m_bytesSent; }
    qint64 BytesTotal() const { return m_bytesTotal; }
    QHostAddress RemoteAddress() const { return m_address; }
    qintptr SocketDescriptor() const; // -1 when no connection is open

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

    // Sends all of `bytes`, without the cut of Write.
    void WriteAll(const QByteArray& bytes);
    // Of the last send, the bytes handed to the socket (all of them once it returned).
    qint64 BytesQueued() const { return m_queued; }
    // The leading decimal digits of a reply line (at most 10) as a reply code; 0 when there are
    // none. A code beyond the 16-bit range is refused.
    static int16_t ReplyCode(const std::string& line);
    void SetReplyNumber(int16_t n) { m_replyNumber = n; }
    void ClearCanceled() { m_canceled = false; }
    void ClearReceiveBuffer() { m_received.clear(); }
    // Called when data arrives while Canceled is set, and when a cancelled wait ends.
    std::function<void()> m_abortHook;
    bool m_destroying = false;

private:
    void attachSocket();
    void replaceSocket();
    void checkCertificate(QSslSocket& ssl, const QList<QSslError>& errors);
    [[noreturn]] void failTls(const std::string& why);
    void waitFor(const std::function<bool()>& done);
    // Sends the device's bytes, or `bytes` when there is no device.
    void sendAll(QIODevice* source, const QByteArray& bytes);
    bool sourceAtEnd() const;
    QByteArray readSource();
    void pump();
    void reportProgress();
    [[noreturn]] void failConnection(const std::string& text);
    void startIoTimer();
    void stopIoTimer();
    void extendIoDeadline();
    void onIoTimer();
    template <typename F> void safely(F&& f) noexcept;

    void onConnected();
    void onReadyRead();
    void onBytesWritten(qint64 bytes);
    void onErrorOccurred(int error);
    void onDisconnected();

    QTcpSocket* m_socket;
    TTimeoutTimer* m_timer;
    QTimer* m_ioTimer; // limit of one wait for a reply or for sending progress
    QDeadlineTimer m_ioDeadline;
    QDeadlineTimer m_ioTimerDue;
    bool m_ioWaiting = false;

    QHostAddress m_address;
    QByteArray m_received;
    QIODevice* m_sendSource = nullptr;
    QByteArray m_sendBytes;
    qsizetype m_sendPos = 0;
    bool m_sending = false;
    qint64 m_queued = 0; // bytes of the running send handed to the socket
    qint64 m_taken = 0;  // of those, bytes the system has taken

    bool m_connected = false;
    bool m_canceled = false;
    bool m_timedOut = false;
    bool m_success = true;
    bool m_lookupDone = false;
    bool m_sendComplete = false;
    bool m_inHandler = false;
    bool m_counting = false;
    bool m_peerClosed = false;
    bool m_ioError = false;
    bool m_ioTimedOut = false;
    int m_lookupId = -1;
    std::vector<QHostAddress> m_lookupAddresses;
    bool m_lookupFailed = false;

    // TLS: the handshake's result, the problems the certificate check found, the pin it is held to.
    bool m_encrypted = false;
    std::string m_peerFingerprint;
    std::string m_trustedFingerprint;
    std::vector<CertProblem> m_certProblems;
    std::string m_socketErrorText; // the socket's own words for its last error

    int16_t m_replyNumber = 0;
    std::string m_lastReply;
    int m_lastErrorNo = 0;
    std::string m_lastStatus;
    qint64 m_bytesSent = 0;
    qint64 m_bytesTotal = 0;
};

} // namespace tessaly
