// The SMTP client: greets the server, sends one message per SendMail, says goodbye.
// No extended greeting, no authentication, no pipelining: one command, one reply line.
//
//   TSmtpClient client;
//   client.Host = "mail.example.jp"; client.Port = 25; client.UserID = "pc01";
//   client.Connect();
//   client.PostMessage.FromAddress = "me@example.jp";
//   client.PostMessage.ToAddress = {"Taro <taro@example.jp>"};
//   client.PostMessage.Body = {"line 1", "line 2"};
//   client.SendMail();      // throws with the server's reply line when a step is refused
//   client.Disconnect();
#pragma once

#include "smtp/attachment_encoder.h"
#include "smtp/message_builder.h"
#include "smtp/post_message.h"
#include "smtp/socket_base.h"

#include <QByteArray>
#include <optional>
#include <string>
#include <string_view>

namespace tessaly {

using THeaderInComplete = std::function<void(bool& handled, int hiType)>;
using TRecipientNotFound = std::function<void(const std::string& Recipient)>;
using TFileItem = std::function<void(const std::string& Filename)>;

// The n-th (from 1) piece of `text` split at every `separator`; empty when there are fewer.
std::string ExtractField(std::string_view text, char separator, int n);

class TSmtpClient : public TSocketBase {
public:
    explicit TSmtpClient(QObject* parent = nullptr);
    ~TSmtpClient() override;

    // --- properties
    std::string UserID;          // argument of "HELO "
    TPostMessage PostMessage;    // the message to send
    TExStringList FinalHeader;   // header of the message being sent; rebuilt by every SendMail
    UUMethods EncodeType = uuMime;
    bool ClearParams = true;     // after a successful SendMail, empty the recipient lists and attachments
    // A message assembled by the caller (MessageBuilder). While set, BuildHeaderAndBody takes its
    // header and body instead of assembling PostMessage's texts; the envelope still comes from
    // PostMessage, and OnSendStart may still change FinalHeader.
    std::optional<WireMessage> PreparedMessage;

    // --- events (OnConnect replaces the socket-level one: fired once the greeting is accepted)
    TNotifyEvent OnConnect;
    THandlerEvent OnAuthenticationFailed;  // "HELO" refused; asked once
    THeaderInComplete OnHeaderIncomplete;  // hiType 1: no sender, 2: no recipient; asked once
    TNotifyEvent OnSendStart;              // header built; FinalHeader may be changed here
    TRecipientNotFound OnRecipientNotFound; // a recipient refused (the list entry as given)
    TNotifyEvent OnFailure;                // the message refused after its data
    TNotifyEvent OnSuccess;
    TFileItem OnEncodeStart;
    TFileItem OnEncodeEnd;
    TFileItem OnAttachmentNotFound;

    // --- operations
    void Connect() override;
    void SendMail();
    void Disconnect() override;
    void Abort() override;

    static std::string ExtractAddress(const std::string& entry);
    void SkipContinuationLines(std::string& reply);

    // --- message assembly (SendMail calls these; public so that they can be checked alone)
    void BuildHeaderAndBody();
    void AddAttachmentPart(int number);

    bool Busy() const { return m_busy; }
    const QByteArray& BodyStream() const { return m_bodyStream; }
    const std::string& Boundary() const { return m_boundary; }

    // The longest header line sent (without its CR LF); a longer one is refused.
    static constexpr std::size_t MaxHeaderLine = 998;

private:
    void checkEnvelope() const;
    void checkFinalHeader() const;

    bool m_busy = false;
    QByteArray m_bodyStream;
    std::string m_boundary;
};

} // namespace tessaly
