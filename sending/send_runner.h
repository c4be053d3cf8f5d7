// The send run as an object without widgets. SendRunner owns every step of a run, from the checks
// to the notify copy, and the test send: it works from the mail and the settings taken when the
// user pressed send (run_snapshot.h), drives the SMTP client it is given, keeps the run journal,
// paces and retries, and tells its owner what happens through signals. What it needs to know
// from the user it asks through RunPrompts.
//
//   SendRunner runner(client, prompts);
//   connect(&runner, &SendRunner::statusChanged, ...);   // and stateChanged, progressChanged,
//   runner.send(mail, settings);                          // bodyLinesAdded, ended
//
// A run is synchronous: send() returns when the run has ended, the window kept alive by the
// client's waits meanwhile. A failure raises its error (tessaly::Error, the text the user
// reads) after the run has ended as failed and dropped its connection.
#pragma once

#include "common/local_time.h"
#include "sending/run_snapshot.h"
#include "sending/run_state.h"
#include "sending/send_pacing.h"
#include "smtp/run_messages.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tessaly {

class MessageBuilder;
class RunPrompts;
class SendRun;
class SmtpConnection;
class SmtpPasswords;
class TSmtpClient;
struct JournalState;
struct WireMessage;

enum class RunOutcome {
    Sent,      // through the whole list (and the notify copy)
    Stopped,   // the stop button ended it between two recipients
    Cancelled, // it ended before sending, without an error; the status text says why
    Failed,    // an error ended it; the error has been raised
};

struct RunEnd {
    RunOutcome outcome = RunOutcome::Sent;
    std::size_t sent = 0;                   // messages the server accepted
    QString failureReason;                  // for Failed: "TLS エラー", "認証エラー" or empty
    std::vector<RefusedRecipient> refused;  // skipped while the run went on past them
};

class SendRunner : public QObject {
    Q_OBJECT
public:
    SendRunner(TSmtpClient& client, RunPrompts& prompts, QObject* parent = nullptr);
    ~SendRunner() override;

    // The SMTP passwords of this program start (none: every login asks).
    void setPasswords(SmtpPasswords* passwords);
    // Tests replace the clocks and the first wait before a retry.
    void setClock(LocalClock clock) { clock_ = std::move(clock); }
    void setSteadyClock(SendPacing::Clock clock) { steadyClock_ = std::move(clock); }
    void setFirstRetryWait(std::chrono::milliseconds wait) { firstRetryWait_ = wait; }

    // The run: one connection, one message per recipient, the notify copy, the sent-data file.
    // Texts the chosen code cannot carry are refused (raised) before anything else happens.
    void send(const RunMail& mail, RunSettings settings);
    // The first recipient's message, headers and all, to the sender's own address only: nothing
    // is logged or saved, no notify copy goes, the body field stays as it is.
    void testSend(const RunMail& mail, RunSettings settings);
    // The stop button: a pause or a wait ends at once, a connecting too; the message on its way
    // is finished and no further one starts. `forGood` (the window closes) is not dropped when
    // the connection has been opened.
    void requestStop(bool forGood = false);

    RunState state() const { return state_; }
    bool running() const { return isRunning(state_); }
    const RunEnd& lastEnd() const { return end_; }
    // The body of the last run in ISO-2022-JP, converted once for every message (none in UTF-8).
    const std::vector<std::string>& convertedBody() const { return convertedBody_; }
    void clearConvertedBody() { convertedBody_.clear(); }

signals:
    void stateChanged(tessaly::RunState state);
    void statusChanged(const QString& text);
    // `done` of `total` recipients; 0 of it at the start and at the end of the loop.
    void progressChanged(int done, int total);
    // The lines the notify copy adds to the body field.
    void bodyLinesAdded(const QStringList& lines);
    void ended(const tessaly::RunEnd& end);

private:
    class RunScope;
    void setState(RunState state);
    void status(const QString& text);
    void finish(RunOutcome outcome, std::size_t sent = 0);
    bool hostChecked(const RunSettings& settings);
    bool opened(RunSettings& settings);
    void withinRun(const std::function<void()>& steps);
    void quitAfterError();
    using Steps = void (SendRunner::*)(const RunMail&, RunSettings&, MessageTexts);
    void runSteps(const RunMail& mail, RunSettings settings, Steps steps);
    void sendSteps(const RunMail& mail, RunSettings& settings, MessageTexts texts);
    void testSendSteps(const RunMail& mail, RunSettings& settings, MessageTexts texts);
    bool askedToResume(const JournalState& previous, SendRun& run);
    bool sizeAccepted(const WireMessage& message);
    void sendNotifyCopy(const MessageBuilder& builder, const RunSettings& settings,
                        const std::vector<RefusedRecipient>& refused, const RunMail& mail);
    static void dispatchPendingEvents();

    TSmtpClient& client_;
    RunPrompts& prompts_;
    SmtpConnection* connection_;
    LocalClock clock_ = localNow;
    SendPacing::Clock steadyClock_ = [] { return std::chrono::steady_clock::now(); };
    std::chrono::milliseconds firstRetryWait_ = std::chrono::seconds(30);
    RunState state_ = RunState::Idle;
    RunEnd end_;
    bool stopRequested_ = false;
    bool endRequested_ = false;
    SendRun* loop_ = nullptr; // while the recipients are sent
    std::vector<std::string> convertedBody_;
};

} // namespace tessaly

Q_DECLARE_METATYPE(tessaly::RunEnd)
