// What a send run does after each message, from what became of it: go on, skip a refused
// recipient, wait and try the same recipient again, or stop. Plain arithmetic, no waiting.
#pragma once

#include <chrono>

namespace tessaly {

// What became of one message, as far as the run must tell the cases apart.
enum class MessageResult {
    Accepted,           // 2xx to "."
    RecipientRefused,   // 5xx to RCPT: this address is wrong, not the message
    Refused,            // 5xx to MAIL, DATA or "."
    Temporary,          // 4xx to MAIL, RCPT or DATA: nothing of the message was accepted
    ConnectionLost,     // the connection ended before "." went out (between messages, too)
    NoAnswer,           // "." went out and no reply came: the server may have the message
    TemporaryAfterData, // 4xx to ".": the server did not take the message (RFC 5321)
    Stopped,            // a stop ended it before "." went out: nothing was delivered
};

enum class RunStep {
    Next,          // the message is done; go on with the next recipient
    Skip,          // record the refusal and go on with the next recipient
    Retry,         // wait, reconnect, and send to the same recipient again
    Stop,          // end the run with the error; nothing of this message was delivered
    StopUncertain, // end the run; the journal keeps the recipient as in flight for the resume
};

struct RunDecision {
    RunStep step = RunStep::Next;
    std::chrono::milliseconds wait{0}; // for Retry
    int attempt = 0;                   // for Retry: 1 for the first retry of this recipient
};

class RetryPolicy {
public:
    // `retry` with `tries` retries per recipient, waiting firstWait, then twice it, then four
    // times it for every later one (30 s, 60 s, 120 s by default; tests shorten it).
    RetryPolicy(bool skipRefused, bool retry, int tries,
                std::chrono::milliseconds firstWait = std::chrono::seconds(30));

    // Decides after one message and counts the retries of the current recipient; any step other
    // than Retry starts the count again for the next one.
    RunDecision decide(MessageResult result);

private:
    bool skipRefused_;
    bool retry_;
    int tries_;
    std::chrono::milliseconds firstWait_;
    int attempts_ = 0;
};

} // namespace tessaly
