// The SMTP client: greets the server, sends one message per SendMail, says goodbye.
//
// With the defaults (Security None, UseAuth false) the exchange is the plain one: HELO, no
// extensions, no login. Protection or a login switch to EHLO; STARTTLS is then required of the
// server (never a silent fall-back to plain text), SSL/TLS speaks TLS from the first byte, and
// the login uses AUTH PLAIN when offered, else LOGIN. Every reply is read whole.
//
//   TSmtpClient client;
//   client.Host = "mail.example.jp"; client.Port = 25; client.UserID = "pc01";
//   client.Connect();
//   client.PostMessage.FromAddress = "me@example.jp";
//   client.PostMessage.ToAddress = {"Taro <taro@example.jp>"};
//   client.PostMessage.Body = {"line 1", "line 2"};
//   client.SendMail();      // throws with the server's reply line when a step is refused
//   SendResult r = client.Send(); // the same exchange, its end as a value: r.Outcome, r.Reply, ...
//   client.Disconnect();
//
// A message goes no further than a refused step: when every recipient is refused, no DATA follows.
#pragma once

#include "smtp/attachment_encoder.h"
#include "smtp/message_builder.h"
#include "smtp/post_message.h"
#include "smtp/smtp_reply.h"
#include "smtp/socket_base.h"

#include <QByteArray>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

class SaslMechanism;

// How the connection is protected.
enum class SmtpSecurity { None, StartTls, ImplicitTls };

// The server refused the login (535 and the like). The text names the step and holds the
// server's reply; nothing was sent. The password may be corrected and the connection tried again.
class AuthError : public Error {
public:
    AuthError(const std::string& text, SmtpReply reply) : Error(text), Reply(std::move(reply)) {}
    SmtpReply Reply;
};

using THeaderInComplete = std::function<void(bool& handled, int hiType)>;
using TRecipientNotFound = std::function<void(const std::string& Recipient)>;
using TFileItem = std::function<void(const std::string& Filename)>;

// The n-th (from 1) piece of `text` split at every `separator`; empty when there are fewer.
std::string ExtractField(std::string_view text, char separator, int n);

// The bytes a prepared message puts between the reply to DATA and the final ".", before
// dot-stuffing: what the server stores, exactly as SendMail sends it. With
// `base64LinesShown`, each attached file shows only that many of its Base64 lines and a line
// saying how many were left out.
inline constexpr std::size_t AllBase64Lines = static_cast<std::size_t>(-1);
QByteArray MessageData(const WireMessage& message, std::size_t base64LinesShown = AllBase64Lines);

class TSmtpClient : public TSocketBase {
public:
    explicit TSmtpClient(QObject* parent = nullptr);
    ~TSmtpClient() override;

    // --- properties
    std::string UserID;          // argument of "HELO "
    TPostMessage PostMessage;    // the message to send
    TExStringList FinalHeader;   // header of the message being sent; rebuilt by every SendMail
    UUMethods EncodeType = uuMime;
    // Send RSET, MAIL, RCPT and DATA as one group when the server offers PIPELINING in its EHLO
    // reply (never after HELO, which lists no extensions).
    bool Pipelining = true;
    bool ClearParams = true;     // after a successful SendMail, empty the recipient lists and attachments
    // A message assembled by the caller (MessageBuilder). While set, BuildHeaderAndBody takes its
    // header and body instead of assembling PostMessage's texts; the envelope still comes from
    // PostMessage, and OnSendStart may still change FinalHeader.
    std::optional<WireMessage> PreparedMessage;

    // --- protection and login (the defaults keep the plain exchange, byte for byte)
    SmtpSecurity Security = SmtpSecurity::None;
    bool UseAuth = false;           // log in: AUTH PLAIN when offered, else LOGIN
    std::string LoginName;          // ASCII
    std::string Password;           // set before Connect; Connect wipes it, whatever its end
    std::string TrustedFingerprint; // SHA-256 of the one certificate trusted for Host:Port
                                    // despite failing verification: 64 lowercase hex digits, "" = none
    // Log in with an OAuth 2.0 access token instead of the password (UseAuth on): XOAUTH2 when the
    // server offers it, else OAUTHBEARER; LoginName is the mail address the token belongs to.
    // Called with `renew` false for the token to use (get it before Connect: a sign-in in the
    // browser must not keep the connection waiting), true when the server refused or ended the
    // session with the last one. When the server ends the session before a message has started
    // (421 and the like, or by closing), the client connects again with a fresh token and sends
    // that message from its start.
    std::function<std::string(bool renew)> OAuthToken;

    // --- events (OnConnect replaces the socket-level one: fired once the greeting is accepted)
    TNotifyEvent OnConnect;
    THandlerEvent OnAuthenticationFailed;  // "HELO" refused; asked once
    THeaderInComplete OnHeaderIncomplete;  // hiType 1: no sender, 2: no recipient; asked once
    TNotifyEvent OnSendStart;              // header built; FinalHeader may be changed here
    TRecipientNotFound OnRecipientNotFound; // a recipient refused (the list entry as given)
    TNotifyEvent OnFailure;                // the message refused after its data
    TNotifyEvent OnSuccess;
    TNotifyEvent OnEndOfData;              // the body is out and "." goes next: from now on the
                                           // server may have the message
    TFileItem OnEncodeStart;
    TFileItem OnEncodeEnd;
    TFileItem OnAttachmentNotFound;

    // --- operations
    void Connect() override;
    void SendMail();
    // Sends the message as SendMail does (the same commands and events) and says what became of
    // it instead of raising. SendMail raises the result's Exception.
    SendResult Send();
    void Disconnect() override;
    // After a failure: QUIT tells a server whose connection still works that the session is over,
    // without waiting for an answer a failing server may never give; then the socket is closed.
    // Does nothing while a command runs or when there is no connection.
    void QuitAfterFailure();
    void Abort() override;

    static std::string ExtractAddress(const std::string& entry);
    void SkipContinuationLines(std::string& reply);

    // --- message assembly (SendMail calls these; public so that they can be checked alone)
    void BuildHeaderAndBody();
    void AddAttachmentPart(int number);

    bool Busy() const { return m_busy; }
    // True while Connect runs: Abort then ends it at once (nothing has been sent yet).
    bool Connecting() const { return m_connecting; }
    // The extensions the server named in its EHLO reply (upper case keyword, then its
    // parameters as sent); empty after HELO.
    const std::vector<std::string>& Extensions() const { return m_extensions; }
    // What became of the last message Send or SendMail sent.
    const SendResult& LastResult() const { return m_lastResult; }
    // The reply that refused a recipient of the last message (Code 0 when none was refused).
    const SmtpReply& LastRecipientRefusal() const { return m_recipientRefusal; }
    // True when the server named the extension (e.g. "PIPELINING") in its EHLO reply.
    bool HasExtension(std::string_view keyword) const;
    const QByteArray& BodyStream() const { return m_bodyStream; }
    const std::string& Boundary() const { return m_boundary; }

    // The longest header line sent (without its CR LF); a longer one is refused.
    static constexpr std::size_t MaxHeaderLine = 998;

private:
    // What an owner's handler threw, kept to be raised again as it was.
    struct Thrown {
        std::exception_ptr exception;
        std::string text;
        explicit operator bool() const { return exception != nullptr; }
    };
    template <typename F> static Thrown call(F&& handler) noexcept;
    static SendResult ended(SendOutcome outcome, const Thrown& thrown);
    static SendResult ended(SendOutcome outcome, const SocketFailure& failure);
    // A step before the message's end failed: stopped, or the connection lost.
    static SendResult endedBeforeData(const SocketFailure& failure);

    // The message's transaction, every end a value. Busy is set around it.
    SendResult transact();
    // The first text that must not go onto a command or header line, in words; "" when none.
    std::string unsafeText() const;
    // The envelope (RSET, MAIL, RCPT, DATA); nothing when the message goes on to its data.
    std::optional<SendResult> envelopeInSteps();
    std::optional<SendResult> envelopeGrouped();
    std::optional<SendResult> envelopeCommand(const std::string& command, SmtpStep step, bool& sessionOver);
    // A recipient's reply; counts an acceptance, or records the refusal and tells the owner.
    Thrown recipientAnswered(const SmtpReply& reply, const std::string& entry, std::size_t& accepted);
    // Every recipient refused: the refusal that decides the message.
    SendResult allRefused(bool namedStep) const;
    SendResult refusal(const SmtpReply& reply, bool namedStep) const;
    SendResult dataWhole();
    SendResult endOfData(const SmtpReply& reply);
    std::optional<SendResult> reconnect();

    bool extended() const { return Security != SmtpSecurity::None || UseAuth; }
    void greetPlain();
    void greetExtended();
    void hello();
    void login();
    void loginWithToken(const std::vector<std::string>& offered);
    SmtpReply authenticate(SaslMechanism& mechanism);
    static bool sessionEnded(const SmtpReply& reply);

    bool m_busy = false;
    bool m_connecting = false;
    bool m_renewToken = false;
    std::vector<std::string> m_extensions;
    SendResult m_lastResult;
    // A MAIL went out and its message was not accepted, so the extended exchange sends RSET
    // before the next one. A server ends each transaction with its reply to ".", and a reset
    // after an accepted message would cost a round trip per message for nothing.
    bool m_transactionMayBeOpen = true;
    SmtpReply m_recipientRefusal;
    std::vector<RecipientRefusal> m_refusedRecipients;
    QByteArray m_bodyStream;
    // A prepared message's files after its text part: part headers, the run's shared Base64
    // texts, the closing boundary.
    std::vector<QByteArray> m_attachmentPieces;
    std::string m_boundary;
};

} // namespace tessaly
