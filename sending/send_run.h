// The recipient loop of a send run: one message per recipient through a transport, the run
// journal kept before every step, the pacing, the retries after temporary failures, the refused
// recipients skipped when the user allows it. It works from a plan fixed when the run starts and
// tells what it does through signals.
#pragma once

#include "common/local_time.h"
#include "log/send_log.h"
#include "sending/message_transport.h"
#include "sending/retry_policy.h"
#include "sending/run_journal.h"
#include "sending/run_snapshot.h"
#include "sending/run_state.h"
#include "sending/send_pacing.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessaly {

// Everything the loop reads.
struct SendRunPlan {
    std::string subjectSjis;                 // the send log's title
    std::vector<std::string> recipientsSjis; // the list when the run started
    bool logOn = false;
    std::string logPathSjis;
    std::string journalPathSjis; // empty: no journal
    std::string identity;        // RunJournal_Identity of the run
    std::string mailIdentity;    // RunJournal_MailIdentity of its Subject and body
    RunConduct conduct;
};

class SendRun : public QObject {
    Q_OBJECT
public:
    SendRun(
        SendRunPlan plan, MessageTransport& transport,
        SendPacing::Clock clock = [] { return std::chrono::steady_clock::now(); },
        LocalClock localClock = localNow, QObject* parent = nullptr);
    ~SendRun() override;

    // Continues an unfinished run: recipients the journal has as accepted are not sent again,
    // nor those in flight unless `resendInFlight` (the send log has those marked as not
    // confirmed by the server). Recipients refused earlier are tried again. A journal of the
    // same mail to fewer recipients (RunJournal_FindCarried) is carried into this run's own
    // and then removed.
    void resumeFrom(const JournalState& journal, bool resendInFlight);
    // This run is sent to everyone in place of the unfinished one in `journal`, whose file goes
    // once this run's journal exists.
    void replaces(const JournalState& journal);

    // Sends to every recipient in turn. True when it went through the list, false when a stop
    // ended it. Raises the error of a message the run cannot go past, after the journal has
    // recorded where the run stands.
    bool sendAll();
    // Replaces the waiting (tests advance a fake clock instead); gives false when stopped.
    void setWaiter(std::function<bool(std::chrono::milliseconds)> waiter) {
        waiter_ = std::move(waiter);
    }
    // Ends a pause or a wait before a retry at once; no further recipient is started.
    void requestStop();
    // The notify copy was accepted, the sent-data file written: recorded so that the run that
    // completes a stopped one does neither twice.
    void notifySent();
    void sentDataWritten();
    // The run is over: the journal is closed and removed.
    void finish();

    std::size_t sentCount() const { return sent_; }
    const std::vector<RefusedRecipient>& refused() const { return refused_; }

signals:
    void statusChanged(const QString& text);
    // Sending, Pausing or WaitingToRetry.
    void stateChanged(tessaly::RunState state);
    // Recipient `index` is done with (sent, refused and skipped, or accepted in an earlier run).
    void recipientDone(std::size_t index);

private:
    bool waitFor(std::chrono::milliseconds wait, RunState state,
                 const std::function<QString()>& text);
    QString remainingText(std::size_t next) const;
    void writeLog(); // the record waiting to be written, if any
    // What waits for the server's answer (see sendAll): the signals not yet emitted and the
    // record; while waiting, a failure is kept for the next catch-up; on the way out of a failing
    // run it is dropped.
    void tell(); // the signals alone
    void catchUp();
    void catchUpWhileWaiting() noexcept;
    void catchUpQuietly() noexcept;
    [[noreturn]] void stopWith(const MessageOutcome& outcome, const std::string& entrySjis);

    SendRunPlan plan_;
    MessageTransport& transport_;
    LocalClock localClock_;
    SendLogWriter log_;
    std::optional<std::string> pendingLog_; // the last message's record, not written yet
    std::optional<std::size_t> doneUntold_; // recipientDone not emitted yet
    std::optional<std::size_t> sendingUntold_; // the message whose sending is not told yet
    std::exception_ptr deferredFailure_;    // catching up while the server answered failed
    SendPacing pacing_;
    RetryPolicy policy_;
    RunWait wait_;
    std::function<bool(std::chrono::milliseconds)> waiter_;
    std::optional<RunJournal> journal_;
    void openJournal();

    std::optional<JournalState> resumed_;
    std::string replacedPathSjis_;
    std::vector<bool> skip_;
    std::vector<std::size_t> confirmedByUser_; // in flight, the user said it arrived
    std::vector<RefusedRecipient> refused_;
    std::size_t sent_ = 0;
    bool stop_ = false;
    bool completed_ = false;
};

} // namespace tessaly
