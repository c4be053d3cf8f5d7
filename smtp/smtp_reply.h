// Typed SMTP replies and the outcome of one message.
//
// A reply is read whole: all its lines share one code, the last line has no "-" after the code.
// Each carries the step it answered, so that a failure can say which step went wrong.
#pragma once

#include "common/errors.h"

#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessaly {

// The command a reply answered.
enum class SmtpStep { Greeting, Hello, StartTls, Auth, Reset, Sender, Recipient, Data, EndOfData, Quit, Other };

// The step's name as the user reads it in an error: 接続, TLS, 認証, 送信者, 宛先, 本文, 切断.
const char* StepName(SmtpStep step);

// One line of a reply taken apart; every reader of replies asks this.
struct ReplyLine {
    long long Number = 0; // the value of its leading digits (at most 10); 0 when it has none
    bool Coded = false;   // it starts with a three-digit code 2xx-5xx followed by a blank, "-" or its end
    bool More = false;    // another line of the same reply follows: "-" after the code, or a leading blank
};
ReplyLine ParseReplyLine(std::string_view line);

struct SmtpReply {
    SmtpStep Step = SmtpStep::Other;
    int Code = 0;                   // the code all its lines share
    std::vector<std::string> Lines; // as received, line ends included

    // All lines as received, one after the other.
    std::string Text() const;
    // Each line's text after its code and separator, without the line end (the extension list
    // of an EHLO reply, the challenge of AUTH).
    std::vector<std::string> Texts() const;
    bool Positive() const { return Code >= 200 && Code < 400; }
    bool Transient() const { return Code >= 400 && Code < 500; }
    bool Permanent() const { return Code >= 500; }
};

// What became of one message.
enum class SendOutcome {
    None,             // nothing sent yet
    Accepted,         // "." answered with a positive reply
    TemporaryFailure, // a 4xx reply refused the message; it may be sent again later
    PermanentFailure, // a 5xx reply refused it
    Unknown,          // "." went out but no reply came: the server may or may not have it
    ConnectionLost,   // the connection ended, failed or timed out before "." went out
    Stopped,          // Abort ended it before "." went out
    NotSent,          // the client refused it before a command went out (not connected, an
                      // incomplete header, a line too long, an attachment that cannot be read):
                      // sending it again as it is would not mend it
};

// A recipient the server refused: the list entry as given and the reply.
struct RecipientRefusal {
    std::string Entry;
    SmtpReply Reply;
};

struct SendResult {
    SendOutcome Outcome = SendOutcome::None;
    SmtpReply Reply; // the reply that decided it (empty when none came)
    std::vector<RecipientRefusal> RefusedRecipients; // in the order they were refused
    std::string ErrorText; // the failure in words, as SendMail raises it; empty when accepted
    // What SendMail raises for it, made where the failure was found; null when accepted. An
    // owner's handler that threw is carried here as it threw.
    std::exception_ptr Exception;
};

// A command refused by the server. The text is the reply as received, all its lines.
class RefusedError : public Error {
public:
    explicit RefusedError(SmtpReply reply) : Error(reply.Text()), Reply(std::move(reply)) {}
    RefusedError(const std::string& text, SmtpReply reply) : Error(text), Reply(std::move(reply)) {}
    SmtpReply Reply;
};

} // namespace tessaly
