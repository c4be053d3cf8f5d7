// The preview of a send run: every message the run would send now, built as the run builds it,
// and whatever the run would refuse, in the run's words. No connection is made.
#pragma once

#include "common/local_time.h"
#include "sending/run_snapshot.h"
#include "smtp/message_builder.h"

#include <QString>
#include <vector>

namespace tessaly {

struct PreviewEntry {
    QString label;       // the recipient entry, or the notify copy's address
    WireMessage message; // as the run builds it
    QString refusal;     // what is wrong with this recipient; empty when nothing
};

struct RunPreview {
    QString summary; // how many messages go to which server
    QString refusal; // the message with which the run would refuse to start; empty when none
    std::vector<PreviewEntry> entries;
};

// `refusal` is what the run refuses before its mail is taken (the Subject as typed); the run's
// own refusals come after it. Date and Message-ID are those of `now`.
RunPreview PreviewOfRun(const RunMail& mail, const RunSettings& settings, QString refusal,
                        const LocalTime& now);

} // namespace tessaly
