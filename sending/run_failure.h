// What a failed run tells the user: one sentence that names the step where it stopped, how many
// messages the server had accepted and what to do next, then what the server or the connection
// said. The step is known where the failure is found (StepError); the runner adds the count and
// raises the whole as a RunFailure.
#pragma once

#include "common/errors.h"
#include "smtp/smtp_reply.h"

#include <QString>

#include <cstddef>
#include <string>

namespace tessaly {

enum class FailedStep { Connect, Tls, Login, Sender, Recipient, Body, End };

// The step of a run that a command of the SMTP exchange belongs to.
FailedStep FailedStepOf(SmtpStep step);

// An error that ended a run at a known step. `temporary`: the server refused for now (4xx).
class StepError : public Error {
public:
    StepError(FailedStep step, const std::string& detail, bool temporary = false)
        : Error(detail), Step(step), Temporary(temporary) {}
    FailedStep Step;
    bool Temporary;
};

// The sentence the box of a failed run leads with.
QString RunFailureLead(FailedStep step, std::size_t accepted, bool temporary);

// The error a failed run raises: the sentence above the detail (the reply or the socket text).
class RunFailure : public Error {
public:
    RunFailure(QString lead, QString detail);
    // The box's text with the text of the client's event (a box of its own otherwise) between
    // the sentence and the detail.
    QString boxText(const QString& eventText) const;
    QString Lead;
    QString Detail;
};

} // namespace tessaly
