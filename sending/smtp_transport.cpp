#include "sending/smtp_transport.h"

#include "common/errors.h"
#include "sending/run_failure.h"
#include "sending/run_snapshot.h"
#include "sending/smtp_connection.h"
#include "smtp/smtp_client.h"

namespace tessaly {

std::string withoutLastLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

MessageOutcome OutcomeOf(const SendResult& r) {
    MessageOutcome o;
    o.errorText = r.ErrorText;
    o.reply = r.Reply.Text();
    o.step = r.Reply.Step;
    switch (r.Outcome) {
    case SendOutcome::Accepted:
        o.result = MessageResult::Accepted;
        break;
    case SendOutcome::Unknown:
        o.result = MessageResult::NoAnswer;
        break;
    case SendOutcome::TemporaryFailure:
    case SendOutcome::PermanentFailure:
        if (r.Reply.Step == SmtpStep::EndOfData) {
            o.result = r.Outcome == SendOutcome::TemporaryFailure ? MessageResult::TemporaryAfterData
                                                                   : MessageResult::Refused;
        } else if (!r.RefusedRecipients.empty()) {
            // One recipient per message: its refusal is what ended the message, whether the
            // client went on to a DATA the server refused or stopped there. The reply to RCPT
            // says why; a text that is only that reply says nothing more.
            const SmtpReply& refusal = r.RefusedRecipients.front().Reply;
            o.result = refusal.Permanent() ? MessageResult::RecipientRefused : MessageResult::Temporary;
            o.reply = refusal.Text();
            o.step = SmtpStep::Recipient;
            if (r.Reply.Step == SmtpStep::Recipient)
                o.errorText.clear();
        } else {
            o.result = r.Outcome == SendOutcome::TemporaryFailure ? MessageResult::Temporary
                                                                   : MessageResult::Refused;
        }
        break;
    case SendOutcome::ConnectionLost:
        o.result = MessageResult::ConnectionLost;
        break;
    case SendOutcome::Stopped:
        o.result = MessageResult::Stopped;
        break;
    case SendOutcome::None:
    case SendOutcome::NotSent:
        // The client refused the message before a command went out: sending it again as it is
        // would not mend it.
        o.result = MessageResult::Refused;
        break;
    }
    o.reply = withoutLastLineEnd(std::move(o.reply));
    return o;
}

SmtpTransport::SmtpTransport(TSmtpClient& client, SmtpConnection& connection,
                             RunSettings& settings, const RunMail& mail,
                             const MessageBuilder& builder, LocalClock clock,
                             std::function<bool()> stopRequested)
    : client_(client), connection_(connection), settings_(settings), mail_(mail), builder_(builder),
      clock_(std::move(clock)), stopRequested_(std::move(stopRequested)) {}

bool SmtpTransport::connected() const { return client_.Connected(); }

// Connecting again, after a wait or when the server closed an idle connection: a stop during it
// ends the run as a stop does; any other end of it is an error of the run.
bool SmtpTransport::connect() {
    // What the server said before it closed the last connection explains a reconnect that fails.
    const std::string said = client_.LastWords();
    std::optional<QString> ended;
    try {
        ended = connection_.open(settings_);
    } catch (const StepError& e) {
        if (said.empty())
            throw;
        throw StepError(e.Step, std::string(e.what()) + "\r\n" + said, e.Temporary);
    }
    if (!ended)
        return true;
    if (stopRequested_())
        return false;
    throw Error(ended->toStdString());
}

void SmtpTransport::prepare(std::size_t index) noexcept {
    try {
        prepared_ = Prepared{index, EnvelopeFor(mail_, settings_, index),
                             MessageFor(builder_, mail_, settings_, index, clock_())};
    } catch (...) {
        prepared_.reset();
    }
}

MessageOutcome SmtpTransport::send(std::size_t index, const RecipientParts&,
                                   const std::function<void()>& beforeDot,
                                   const std::function<void()>& whileFirstReply,
                                   std::optional<std::size_t> next) {
    // The entry's address with the settings' and a merged row's copies; without copies the
    // envelope and the message are what they always were. A message built ahead is this one's
    // only when it was built for it just before; any other (a retry's, after a wait) is dropped.
    if (std::optional<Prepared> ready = std::exchange(prepared_, std::nullopt); ready && ready->index == index) {
        client_.PostMessage.ToAddress = std::move(ready->envelope);
        client_.PreparedMessage = std::move(ready->message);
    } else {
        client_.PostMessage.ToAddress = EnvelopeFor(mail_, settings_, index);
        client_.PreparedMessage = MessageFor(builder_, mail_, settings_, index, clock_());
    }
    struct Hooks {
        TSmtpClient& client;
        ~Hooks() {
            client.OnEndOfData = nullptr;
            client.WhileAwaitingReply(nullptr);
        }
    } hooks{client_};
    client_.OnEndOfData = [&](QObject*) {
        beforeDot();
        // The server takes longest over the data: the next message is built meanwhile.
        if (next)
            client_.WhileAwaitingReply([this, n = *next] { prepare(n); });
    };
    client_.WhileAwaitingReply(whileFirstReply);
    MessageOutcome outcome = OutcomeOf(client_.Send());
    // A connection lost has no reply: the step is the command the client was at.
    if (outcome.step == SmtpStep::Other)
        outcome.step = client_.LastStep();
    return outcome;
}

void dropConnection(TSmtpClient& client) {
    if (client.Connected() && !client.Busy())
        client.Abort();
    if (client.Connected())
        client.RequestCloseSocket();
}

void SmtpTransport::drop() { dropConnection(client_); }

} // namespace tessaly
