#include "sending/send_runner.h"

#include "common/errors.h"
#include "common/text.h"
#include "sending/run_checks.h"
#include "sending/run_journal.h"
#include "sending/run_prompts.h"
#include "sending/send_run.h"
#include "sending/sent_data.h"
#include "sending/smtp_connection.h"
#include "sending/smtp_transport.h"
#include "smtp/message_builder.h"
#include "smtp/smtp_client.h"

#include <QCoreApplication>
#include <QHostInfo>

#include <algorithm>
#include <exception>

namespace tessaly {

namespace {

bool hostResolves(const std::string& hostSjis) {
    if (hostSjis.empty())
        return false;
    const QHostInfo info = QHostInfo::fromName(fromSjis(hostSjis));
    return info.error() == QHostInfo::NoError && !info.addresses().isEmpty();
}

// The failure of a message that must go through, in the user's words.
[[noreturn]] void raiseFailure(const SendResult& result) {
    const MessageOutcome outcome = OutcomeOf(result);
    throw Error(outcome.errorText.empty() ? outcome.reply : outcome.errorText);
}

void sendOrRaise(TSmtpClient& client, WireMessage message) {
    client.PreparedMessage = std::move(message);
    const SendResult result = client.Send();
    client.PreparedMessage.reset();
    if (result.Outcome != SendOutcome::Accepted)
        raiseFailure(result);
}

} // namespace

// A run from its first step to its end. When an error leaves the run before it ended, nothing
// more goes over its connection (the next run's Connect would fail with "Already connected"
// while the server kept it) and the run ends as failed; the error goes on to the command guard.
class SendRunner::RunScope {
public:
    explicit RunScope(SendRunner& runner) : runner_(runner) {
        runner_.end_ = {};
        runner_.stopRequested_ = false;
        runner_.endRequested_ = false;
        runner_.setState(RunState::Connecting);
    }
    ~RunScope() {
        runner_.loop_ = nullptr;
        if (runner_.state_ == RunState::Ended)
            return;
        dropConnection(runner_.client_);
        runner_.end_.outcome = RunOutcome::Failed;
        runner_.end_.failureReason = runner_.connection_->failureReason();
        runner_.setState(RunState::Ended);
        emit runner_.ended(runner_.end_);
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    SendRunner& runner_;
};

SendRunner::SendRunner(TSmtpClient& client, RunPrompts& prompts, QObject* parent)
    : QObject(parent), client_(client), prompts_(prompts),
      connection_(new SmtpConnection(client, prompts, this)) {
    qRegisterMetaType<tessaly::RunState>();
    qRegisterMetaType<tessaly::RunEnd>();
    connect(connection_, &SmtpConnection::statusChanged, this, &SendRunner::status);
    connect(connection_, &SmtpConnection::stateChanged, this, [this](RunState state) {
        if (!stopRequested_)
            setState(state);
    });
}

SendRunner::~SendRunner() = default;

void SendRunner::setPasswords(SmtpPasswords* passwords) { connection_->setPasswords(passwords); }

void SendRunner::setState(RunState state) {
    if (state == state_)
        return;
    state_ = state;
    emit stateChanged(state);
}

void SendRunner::status(const QString& text) { emit statusChanged(text); }

void SendRunner::finish(RunOutcome outcome, std::size_t sent) {
    end_.outcome = outcome;
    end_.sent = sent;
    setState(RunState::Ended);
    emit ended(end_);
}

void SendRunner::dispatchPendingEvents() { QCoreApplication::processEvents(); }

void SendRunner::requestStop(bool forGood) {
    if (!running())
        return;
    stopRequested_ = true;
    endRequested_ = endRequested_ || forGood;
    if (loop_)
        loop_->requestStop();
    connection_->stop();
    setState(RunState::Stopping);
}

// False when the host does not resolve; the run has then ended, the user told.
bool SendRunner::hostChecked(const RunSettings& settings) {
    if (!settings.hostCheck)
        return true;
    status(QStringLiteral("ホスト接続確認中…"));
    dispatchPendingEvents();
    if (hostResolves(settings.hostSjis))
        return true;
    prompts_.inform(QStringLiteral("ホスト接続が有効ではありません！"));
    status(QStringLiteral("ホスト接続を確認して下さい"));
    finish(RunOutcome::Cancelled);
    return false;
}

// False when the run ended while connecting, without an error (its status says why).
bool SendRunner::opened(RunSettings& settings) {
    const std::optional<QString> ended = connection_->open(settings);
    if (!ended)
        return true;
    status(*ended);
    finish(RunOutcome::Cancelled);
    return false;
}

// Whether an unfinished run of the same mail to the same list goes on where it stopped; false
// when the user cancels.
bool SendRunner::askedToResume(const JournalState& previous, SendRun& run) {
    switch (prompts_.askResume(ResumeQuestionText(previous))) {
    case Choice::Yes: {
        const bool resend = !previous.inFlight().empty() &&
                            prompts_.confirmResendInFlight(InFlightQuestionText(previous));
        run.resumeFrom(previous, resend);
        return true;
    }
    case Choice::No:
        return prompts_.confirmSendToEveryone(SendAllAgainQuestionText(previous.acceptedCount()));
    case Choice::Cancel:
        break;
    }
    return false;
}

// The notify copy lists the recipients as the list holds them now, the refused ones marked.
void SendRunner::sendNotifyCopy(const MessageBuilder& builder, const RunSettings& settings,
                                const std::vector<RefusedRecipient>& refused, const RunMail& mail) {
    std::vector<std::string> entries = prompts_.recipientsNow();
    std::vector<RefusedRecipient> marked = refused;
    if (!mail.own.empty()) {
        // A merged run's recipients are the table's rows, listed with their copies.
        entries = mail.recipientsSjis;
        for (std::size_t i = 0; i < entries.size() && i < mail.own.size(); ++i) {
            const std::string listed = entries[i] + CopiesText(mail.own[i]);
            for (RefusedRecipient& r : marked)
                if (r.entrySjis == entries[i])
                    r.entrySjis = listed;
            entries[i] = listed;
        }
    }
    const NotifyCopy copy =
        NotifyCopyOf(builder.texts(), entries,
                     settings.atesaki ? std::optional<std::string>(settings.keisyouSjis)
                                      : std::nullopt,
                     marked);
    QStringList shown;
    for (const std::string& line : copy.addedLinesSjis)
        shown << fromSjis(line);
    emit bodyLinesAdded(shown);
    client_.PostMessage.ToAddress.assign(1, settings.everySendSjis);
    status(QStringLiteral("毎回の通知先へ送信中！"));
    sendOrRaise(client_, MessageBuilder(copy.texts, settings.charset)
                             .build(AddresseeOf(settings.everySendSjis, settings.fromSjis, clock_())));
}

void SendRunner::send(const RunMail& mail, RunSettings settings) {
    if (running())
        return;
    if (const QString refusal = SendRefusal(mail, settings); !refusal.isEmpty())
        throw Error(refusal.toStdString());
    RunScope run(*this);
    settings.conduct.firstRetryWait = firstRetryWait_;

    if (!hostChecked(settings))
        return;

    // The body is converted once; per recipient only the addressee line is.
    status(QStringLiteral("文字コード変換中！"));
    const MessageBuilder builder(MessageTextsOf(mail, settings), settings.charset);
    convertedBody_ = builder.bodyJis();

    dispatchPendingEvents();
    if (stopRequested_) {
        finish(RunOutcome::Cancelled);
        return;
    }

    if (!opened(settings))
        return;
    // The envelope; the message builder makes each header and body.
    client_.PostMessage.FromAddress = settings.fromSjis;
    client_.PostMessage.ReplyTo = settings.replySjis;
    client_.PostMessage.LocalProgram = std::string(MailerName);
    status(QStringLiteral("ホスト接続！"));
    dispatchPendingEvents();

    // An empty list still gets a range, or a bar would show a busy animation.
    const int total = std::max<int>(1, static_cast<int>(mail.recipientsSjis.size()));
    emit progressChanged(0, total);
    // A stop asked for while connecting is dropped, but not a close of the window: that still
    // ends the run before its first recipient.
    stopRequested_ = endRequested_;
    setState(stopRequested_ ? RunState::Stopping : RunState::Sending);

    SendRunPlan plan;
    plan.subjectSjis = mail.subjectSjis;
    plan.recipientsSjis = mail.recipientsSjis;
    plan.logOn = settings.logOn;
    plan.logPathSjis = settings.logPathSjis;
    plan.identity = RunJournal_Identity(mail.subjectSjis, IdentityLines(mail, builder.bodyJis()),
                                        mail.recipientsSjis);
    plan.journalPathSjis = RunJournal_Path(
        RunJournal_Folder(settings.logOn, settings.logPathSjis, settings.startDirectorySjis),
        plan.identity);
    plan.conduct = settings.conduct;
    SmtpTransport transport(client_, *connection_, settings, builder, clock_,
                            [this] { return stopRequested_; });
    transport.setMergedMail(mail);
    SendRun loop(plan, transport, steadyClock_, clock_);
    const JournalState previous = RunJournal_Read(plan.journalPathSjis);
    if (previous.resumable(plan.identity, plan.recipientsSjis.size()) &&
        !askedToResume(previous, loop)) {
        client_.Disconnect();
        status(QStringLiteral("送信を取りやめました"));
        finish(RunOutcome::Cancelled);
        return;
    }
    loop_ = &loop;
    if (stopRequested_)
        loop.requestStop();
    int done = 0;
    connect(&loop, &SendRun::statusChanged, this, &SendRunner::status);
    connect(&loop, &SendRun::stateChanged, this, [this](RunState state) {
        if (!stopRequested_)
            setState(state);
    });
    connect(&loop, &SendRun::recipientDone, this, [&] {
        end_.sent = loop.sentCount();
        emit progressChanged(++done, total);
        dispatchPendingEvents();
    });
    const bool stopped = !loop.sendAll();

    // A run that completes a stopped one whose copy went out does not send it again.
    if (!stopped && settings.everySendOn && !previous.notifySent) {
        sendNotifyCopy(builder, settings, loop.refused(), mail);
        loop.notifySent();
        dispatchPendingEvents();
    }

    emit progressChanged(0, total);
    status(QStringLiteral("ホスト切断！"));
    if (client_.Connected() || !stopped)
        client_.Disconnect();
    if (!previous.sentDataWritten) {
        if (settings.sendDataOn)
            SendData_Append(settings.sendDataPathSjis, prompts_.bodyShownNow());
        loop.sentDataWritten();
    }
    if (!stopped)
        loop.finish(); // a stopped run keeps its journal, so that the next send can go on
    status(QStringLiteral("メッセージ送信完了！"));
    end_.refused = loop.refused();
    finish(stopped ? RunOutcome::Stopped : RunOutcome::Sent, loop.sentCount());
}

void SendRunner::testSend(const RunMail& mail, RunSettings settings) {
    if (running())
        return;
    if (const QString refusal = SendRefusal(mail, settings); !refusal.isEmpty())
        throw Error(refusal.toStdString());
    RunScope run(*this);
    if (!hostChecked(settings))
        return;
    status(QStringLiteral("文字コード変換中！"));
    const MessageBuilder builder(MessageTextsOf(mail, settings), settings.charset);
    dispatchPendingEvents();
    if (stopRequested_ || mail.recipientsSjis.empty()) {
        finish(RunOutcome::Cancelled);
        return;
    }
    if (!opened(settings))
        return;
    TPostMessage& message = client_.PostMessage;
    message.FromAddress = settings.fromSjis;
    message.ReplyTo = settings.replySjis;
    message.LocalProgram = std::string(MailerName);
    message.ToAddress.assign(1, settings.fromSjis);
    dispatchPendingEvents();
    if (stopRequested_) {
        client_.Disconnect();
        status(QStringLiteral("テスト送信を中止しました"));
        finish(RunOutcome::Cancelled);
        return;
    }
    setState(RunState::Sending);
    status(QStringLiteral("テスト送信中！"));
    // The first recipient's message as it would go, copies in its header, but to the sender only.
    const MessageAddressee addressee = AddresseeFor(mail, settings, 0, clock_());
    sendOrRaise(client_, mail.own.empty() ? builder.build(addressee)
                                          : MessageBuilder(MessageTextsOf(mail, settings, 0),
                                                           settings.charset)
                                                .build(addressee));
    client_.Disconnect();
    // Short enough for the status panel; the address is the user's own.
    status(QStringLiteral("自分宛てにテスト送信しました"));
    finish(RunOutcome::Sent, 1);
}

} // namespace tessaly
