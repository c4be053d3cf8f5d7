// The send run's way to the server through the SMTP client: builds each recipient's message,
// sends it, and says what became of it in the terms the run decides on.
#pragma once

#include "app/send_run_loop.h"

#include <functional>
#include <string>

namespace tessaly {

class MessageBuilder;
class TSmtpClient;
struct MessageAddressee;

// One message's own header values: the To entry, the Date and a new Message-ID.
MessageAddressee addresseeOf(const std::string& address, const std::string& fromAddress);

class SmtpTransport : public MessageTransport {
public:
    // `connect` opens the client's connection as the run's first connect does.
    SmtpTransport(TSmtpClient& client, const MessageBuilder& builder, std::function<void()> connect,
                  bool atesaki, std::string keisyouSjis);

    bool connected() const override;
    void connect() override { connect_(); }
    MessageOutcome send(std::size_t index, const RecipientParts& parts,
                        const std::function<void()>& beforeDot) override;
    void drop() override;

private:
    TSmtpClient& client_;
    const MessageBuilder& builder_;
    std::function<void()> connect_;
    bool atesaki_;
    std::string keisyouSjis_;
};

} // namespace tessaly
