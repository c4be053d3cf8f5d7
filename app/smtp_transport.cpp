#include "app/smtp_transport.h"

#include "app/mail_text.h"
#include "smtp/message_builder.h"
#include "smtp/smtp_client.h"

#include <QDateTime>

namespace tessaly {

MessageAddressee addresseeOf(const std::string& address, const std::string& fromAddress) {
    MessageAddressee addressee;
    addressee.to = address;
    addressee.date = Rfc5322Date(QDateTime::currentDateTime());
    addressee.messageId = NewMessageId(fromAddress);
    return addressee;
}

SmtpTransport::SmtpTransport(TSmtpClient& client, const MessageBuilder& builder,
                             std::function<void()> connect, bool atesaki, std::string keisyouSjis)
    : client_(client), builder_(builder), connect_(std::move(connect)), atesaki_(atesaki),
      keisyouSjis_(std::move(keisyouSjis)) {}

bool SmtpTransport::connected() const {
    return client_.Connected();
}

MessageOutcome SmtpTransport::send(std::size_t, const RecipientParts& parts,
                                   const std::function<void()>& beforeDot) {
    client_.PostMessage.ToAddress.assign(1, parts.address);
    MessageAddressee addressee = addresseeOf(parts.address, client_.PostMessage.FromAddress);
    if (atesaki_)
        addressee.addresseeLineSjis = parts.addresseeName + " " + keisyouSjis_;
    client_.PreparedMessage = builder_.build(addressee);
    client_.OnEndOfData = [&beforeDot](QObject*) { beforeDot(); };
    MessageOutcome outcome;
    try {
        client_.SendMail();
        client_.OnEndOfData = nullptr;
        return outcome;
    } catch (...) {
        client_.OnEndOfData = nullptr;
        outcome.error = std::current_exception();
    }
    const SendResult& last = client_.LastResult();
    const SmtpReply& refusal = client_.LastRecipientRefusal();
    switch (last.Outcome) {
    case SendOutcome::Unknown:
        outcome.result = MessageResult::NoAnswer;
        break;
    case SendOutcome::TemporaryFailure:
        outcome.result = last.Reply.Step == SmtpStep::EndOfData ? MessageResult::TemporaryAfterData
                                                                 : MessageResult::Temporary;
        outcome.reply = last.Reply.Text();
        break;
    case SendOutcome::PermanentFailure:
        // With one recipient, a refused RCPT shows as a refused DATA: the RCPT reply says why.
        if (refusal.Code >= 400 && last.Reply.Step != SmtpStep::EndOfData) {
            outcome.result =
                refusal.Code >= 500 ? MessageResult::RecipientRefused : MessageResult::Temporary;
            outcome.reply = refusal.Text();
        } else {
            outcome.result = MessageResult::Refused;
            outcome.reply = last.Reply.Text();
        }
        break;
    default:
        // Nothing answered: the connection failed before the data's end, or the message could
        // not be built (a fault that sending again would not mend).
        try {
            std::rethrow_exception(outcome.error);
        } catch (const EAbortError&) {
            outcome.result = MessageResult::Refused;
        } catch (const ESockError&) {
            outcome.result = MessageResult::ConnectionLost;
        } catch (...) {
            outcome.result = MessageResult::Refused;
        }
        break;
    }
    // Strip the line ends of the reply's last line: the run keeps it as one text.
    while (!outcome.reply.empty() && (outcome.reply.back() == '\n' || outcome.reply.back() == '\r'))
        outcome.reply.pop_back();
    return outcome;
}

void SmtpTransport::drop() {
    if (client_.Connected() && !client_.Busy())
        client_.Abort();
    if (client_.Connected())
        client_.RequestCloseSocket();
}

} // namespace tessaly
