// The recipient loop of a send run as an object: it works from a snapshot taken when the user
// pressed send, sends through a transport, keeps the run journal, paces, retries, skips refused
// recipients when the user allows it, and reports what it does through signals. The window keeps
// its handlers, texts and buttons and drives it.
#pragma once

#include "app/mail_text.h"
#include "app/refused_window.h"
#include "app/retry_policy.h"
#include "app/send_pacing.h"
#include "log/run_journal.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct Settings;

namespace tessaly {

// The settings that decide how a long run keeps going.
struct RunConduct {
    bool skipRefused = false;
    bool retry = false;
    int tries = 3;
    int perMinute = 0;
    int pauseEvery = 0;
    std::chrono::milliseconds pause = std::chrono::seconds(60);
    std::chrono::milliseconds firstRetryWait = std::chrono::seconds(30); // tests shorten it
};
RunConduct RunConduct_From(const Settings& settings);

// Everything the loop reads, fixed when the run starts.
struct RunSnapshot {
    std::string subjectSjis;                 // as typed; the send log's title
    std::vector<std::string> recipientsSjis; // the list as it was when the run started
    bool logOn = false;
    std::string logPathSjis;
    std::string journalPathSjis; // empty: no journal
    std::string identity;        // RunJournal_Identity of the run
    RunConduct conduct;
};

// What became of one message.
struct MessageOutcome {
    MessageResult result = MessageResult::Accepted;
    std::string reply;        // the server's reply (every line), when there was one
    std::exception_ptr error; // what the run raises when it cannot go past this message
};

// How the loop reaches the server. The adapter over the SMTP client builds the message for the
// recipient and classifies what came back.
class MessageTransport {
public:
    virtual ~MessageTransport() = default;
    virtual bool connected() const = 0;
    // Opens the connection and greets the server; throws when it cannot.
    virtual void connect() = 0;
    // Sends recipient `index`'s message. `beforeDot` is called right before the end of the data
    // goes out: from then on the server may have the message.
    virtual MessageOutcome send(std::size_t index, const RecipientParts& parts,
                                const std::function<void()>& beforeDot) = 0;
    // Ends a connection after a failure without waiting for the server.
    virtual void drop() = 0;
};

// The questions of a resumed run. The first one offers はい (send to the rest), いいえ (send to
// everyone again) and キャンセル; "N" is where the run stopped (from 1), "M" how many have not
// been accepted.
QString ResumeQuestionText(const JournalState& journal);
// Asked after いいえ: everyone already sent to gets the mail a second time.
QString SendAllAgainQuestionText(std::size_t acceptedCount);
// Asked after はい when messages were in flight: names them; はい sends to them again.
QString InFlightQuestionText(const JournalState& journal);

class SendRun : public QObject {
    Q_OBJECT
public:
    SendRun(
        RunSnapshot snapshot, MessageTransport& transport,
        SendPacing::Clock clock = [] { return std::chrono::steady_clock::now(); },
        QObject* parent = nullptr);

    // Continues an unfinished run: recipients the journal has as accepted are not sent again,
    // nor those in flight unless `resendInFlight`. Recipients refused earlier are tried again.
    void resumeFrom(const JournalState& journal, bool resendInFlight);

    // Sends to every recipient in turn. True when it went through the list, false when a stop
    // ended it. Throws the error of a message the run cannot go past, after the journal has
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
    // Recipient `index` is done with (sent, refused and skipped, or accepted in an earlier run).
    void recipientDone(std::size_t index);

private:
    bool waitFor(std::chrono::milliseconds wait, const std::function<QString()>& text);
    QString remainingText(std::size_t next) const;
    void recordLog(const std::string& nameSjis);

    RunSnapshot snap_;
    MessageTransport& transport_;
    SendPacing pacing_;
    RetryPolicy policy_;
    RunWait wait_;
    std::function<bool(std::chrono::milliseconds)> waiter_;
    std::optional<RunJournal> journal_;
    std::optional<JournalState> resumed_;
    std::vector<bool> skip_;
    std::vector<RefusedRecipient> refused_;
    std::size_t sent_ = 0;
    bool stop_ = false;
    bool completed_ = false;
};

} // namespace tessaly
