// The run's way to the server through the SMTP client: builds each recipient's message, sends it,
// and says what became of it in the terms the run decides on.
#pragma once

#include "common/local_time.h"
#include "sending/message_transport.h"
#include "smtp/message_builder.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessaly {

class SmtpConnection;
class TSmtpClient;
struct RunMail;
struct RunSettings;
struct SendResult;

// A server's reply or an error's text without the line end after its last line, as it is shown.
std::string withoutLastLineEnd(std::string text);
// What a message's result from the client means to the run.
MessageOutcome OutcomeOf(const SendResult& result);
// Ends the client's connection after a failure without waiting for the server: a connection
// left open would make the next run fail with "Already connected".
void dropConnection(TSmtpClient& client);

class SmtpTransport : public MessageTransport {
public:
    // `settings` are the run's (a certificate trusted on a reconnect is kept there); recipient N
    // is entry N of `mail`, its message built from the run's `builder` (a merged row's from its
    // own texts, with its own files and copies); `stopRequested` tells whether a connecting that
    // ended without an error was the stop button.
    SmtpTransport(TSmtpClient& client, SmtpConnection& connection, RunSettings& settings,
                  const RunMail& mail, const MessageBuilder& builder, LocalClock clock,
                  std::function<bool()> stopRequested);

    bool connected() const override;
    bool connect() override;
    MessageOutcome send(std::size_t index, const RecipientParts& parts,
                        const std::function<void()>& beforeDot,
                        const std::function<void()>& whileFirstReply,
                        std::optional<std::size_t> next) override;
    void drop() override;

private:
    // Builds recipient `index`'s envelope and message ahead; nothing when that fails (its send
    // builds it again and tells why).
    void prepare(std::size_t index) noexcept;

    TSmtpClient& client_;
    SmtpConnection& connection_;
    RunSettings& settings_;
    const RunMail& mail_;
    const MessageBuilder& builder_;
    LocalClock clock_;
    std::function<bool()> stopRequested_;
    struct Prepared {
        std::size_t index;
        std::vector<std::string> envelope;
        WireMessage message;
    };
    std::optional<Prepared> prepared_; // only ever for the very next send
};

} // namespace tessaly
