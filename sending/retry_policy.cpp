#include "sending/retry_policy.h"

#include <algorithm>

namespace tessaly {

RetryPolicy::RetryPolicy(bool skipRefused, bool retry, int tries,
                         std::chrono::milliseconds firstWait)
    : skipRefused_(skipRefused), retry_(retry), tries_(std::max(0, tries)), firstWait_(firstWait) {}

RunDecision RetryPolicy::decide(MessageResult result) {
    RunDecision decision;
    switch (result) {
    case MessageResult::Accepted:
        decision.step = RunStep::Next;
        break;
    case MessageResult::RecipientRefused:
        decision.step = skipRefused_ ? RunStep::Skip : RunStep::Stop;
        break;
    case MessageResult::Refused:
    case MessageResult::Stopped:
        // The same message would be refused for everyone: going on would only repeat it.
        decision.step = RunStep::Stop;
        break;
    case MessageResult::Temporary:
    case MessageResult::TemporaryAfterData:
    case MessageResult::ConnectionLost:
        if (retry_ && attempts_ < tries_) {
            ++attempts_;
            decision.step = RunStep::Retry;
            decision.attempt = attempts_;
            decision.wait = firstWait_ * (1 << std::min(attempts_ - 1, 2));
            return decision;
        }
        decision.step = RunStep::Stop;
        break;
    case MessageResult::NoAnswer:
        // Sending again could deliver twice: the user decides when the run is resumed.
        decision.step = RunStep::StopUncertain;
        break;
    }
    attempts_ = 0;
    return decision;
}

} // namespace tessaly
