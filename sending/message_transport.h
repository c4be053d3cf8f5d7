// How a send run reaches the server, one message at a time. The run decides from the outcome
// alone: the transport says what became of a message and never raises for it.
#pragma once

#include "sending/retry_policy.h"
#include "smtp/run_messages.h"
#include "smtp/smtp_reply.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace tessaly {

// What became of one message.
struct MessageOutcome {
    MessageResult result = MessageResult::Accepted;
    std::string reply;     // the reply that decided it (every line, without the last line end)
    std::string errorText; // the failure in words, as the run reports it when it cannot go on
    SmtpStep step = SmtpStep::Other; // the command it ended at
};

class MessageTransport {
public:
    virtual ~MessageTransport() = default;
    virtual bool connected() const = 0;
    // Opens the connection and greets the server. False when a stop ended the connecting; a
    // connection that cannot be opened raises the run's error.
    virtual bool connect() = 0;
    // Sends recipient `index`'s message. `beforeDot` is called right before the end of the data
    // goes out: from then on the server may have the message. `whileFirstReply`, when set, is
    // work that need not hold the exchange up: it is called at most once, once the message's
    // first command is out and while the server answers it (it must not throw). `next`, when
    // given, is the recipient whose message comes right after this one: the transport may build
    // it while the server answers this one's data.
    virtual MessageOutcome send(std::size_t index, const RecipientParts& parts,
                                const std::function<void()>& beforeDot,
                                const std::function<void()>& whileFirstReply,
                                std::optional<std::size_t> next) = 0;
    // Ends a connection after a failure without waiting for the server.
    virtual void drop() = 0;
};

} // namespace tessaly
