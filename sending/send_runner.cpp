#include "sending/send_runner.h"

#include "common/errors.h"
#include "common/text.h"
#include "sending/attachments.h"
#include "sending/run_checks.h"
#include "sending/run_failure.h"
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
[[noreturn]] void raiseFailure(const SendResult& result, SmtpStep lastStep) {
    const MessageOutcome outcome = OutcomeOf(result);
    throw StepError(FailedStepOf(outcome.step == SmtpStep::Other ? lastStep : outcome.step),
                    outcome.errorText.empty() ? outcome.reply : outcome.errorText,
                    result.Outcome == SendOutcome::TemporaryFailure);
}

void sendOrRaise(TSmtpClient& client, WireMessage message) {
    client.PreparedMessage = std::move(message);
    const SendResult result = client.Send();
    client.PreparedMessage.reset();
    if (result.Outcome != SendOutcome::Accepted)
        raiseFailure(result, client.LastStep());
}

QString shownText(const char* text) {
    return QString::fromStdString(withoutLastLineEnd(text));
}

// Ends the session with QUIT, once every message is out: a server that answers it oddly has
// still taken every message, which the run reports as sent. The text of that answer, if any.
QString quitAfterSending(TSmtpClient& client) {
    try {
        client.Disconnect();
    } catch (const std::exception& e) {
        return shownText(e.what());
    }
    return {};
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

// Every wait of the socket layer runs the whole event loop; a full pass more after each recipient
// of a fast server would cost a system call per message for nothing. Events posted since (the
// progress, the status) are handed out at once, and a whole pass comes at least every few
// milliseconds, so that input and timers are never kept waiting long.
void SendRunner::dispatchPendingEvents() {
    using Clock = std::chrono::steady_clock;
    static Clock::time_point lastFullPass;
    const Clock::time_point now = Clock::now();
    if (now - lastFullPass < std::chrono::milliseconds(4)) {
        QCoreApplication::sendPostedEvents();
        return;
    }
    QCoreApplication::processEvents();
    lastFullPass = Clock::now();
}

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
        if (!prompts_.confirmSendToEveryone(SendAllAgainQuestionText(previous.acceptedCount())))
            return false;
        run.replaces(previous);
        return true;
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
    if (!mail.own.empty() || !settings.cc.empty() || !settings.bcc.empty()) {
        // A merged run's recipients are the table's rows; each entry is listed with its copies.
        if (!mail.own.empty())
            entries = mail.recipientsSjis;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string listed = entries[i] + CopiesText(mail, settings, i);
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

// An error after the connection was opened: the server is told with QUIT while the connection
// still works (it may say why it gave up), and an error of a known step becomes the run's
// failure, which names the step and how many messages went out.
void SendRunner::withinRun(const std::function<void()>& steps) {
    try {
        steps();
    } catch (const StepError& e) {
        quitAfterError();
        throw RunFailure(RunFailureLead(e.Step, end_.sent, e.Temporary), shownText(e.what()));
    } catch (...) {
        quitAfterError();
        throw;
    }
}

void SendRunner::quitAfterError() { client_.QuitAfterFailure(); }

namespace {

// The run's texts with its files, each read once here for every message; a file that cannot be
// sent as it was added is refused before anything else happens.
MessageTexts TextsWithAttachments(const RunMail& mail, const RunSettings& settings) {
    MessageTexts texts = MessageTextsOf(mail, settings);
    texts.attachments = ReadAttachments(mail.attachments, texts.bodySjis);
    return texts;
}

} // namespace

// False when the user would rather not send a message that large, or (raised) when the server
// said it takes none that large; asked of the first recipient's message, the largest but for
// an addressee line.
bool SendRunner::sizeAccepted(const WireMessage& message) {
    if (message.attachments.empty())
        return true;
    const std::int64_t size = WireSize(message);
    if (const std::optional<std::int64_t> limit = SizeLimitOf(client_.Extensions())) {
        if (size > *limit)
            throw Error(SizeLimitRefusalText(size, *limit).toStdString());
        return true;
    }
    if (size <= LargeMessageSize || prompts_.confirmLargeMessage(LargeMessageQuestionText(size)))
        return true;
    client_.Disconnect();
    status(QStringLiteral("送信を取りやめました"));
    finish(RunOutcome::Cancelled);
    return false;
}

void SendRunner::send(const RunMail& mail, RunSettings settings) {
    runSteps(mail, std::move(settings), &SendRunner::sendSteps);
}

void SendRunner::testSend(const RunMail& mail, RunSettings settings) {
    runSteps(mail, std::move(settings), &SendRunner::testSendSteps);
}

// What the run and the test send share: the checks before anything happens, the files read once,
// and the error path around the steps.
void SendRunner::runSteps(const RunMail& mail, RunSettings settings, Steps steps) {
    if (running())
        return;
    if (const QString refusal = SendRefusal(mail, settings); !refusal.isEmpty())
        throw Error(refusal.toStdString());
    MessageTexts texts = TextsWithAttachments(mail, settings);
    RunScope run(*this);
    withinRun([&] { (this->*steps)(mail, settings, std::move(texts)); });
}

void SendRunner::sendSteps(const RunMail& mail, RunSettings& settings, MessageTexts texts) {
    settings.conduct.firstRetryWait = firstRetryWait_;

    if (!hostChecked(settings))
        return;

    // The body is converted once; per recipient only the addressee line is.
    status(QStringLiteral("文字コード変換中！"));
    const MessageBuilder builder(std::move(texts), settings.charset);
    convertedBody_ = builder.bodyJis();

    dispatchPendingEvents();
    if (stopRequested_) {
        finish(RunOutcome::Cancelled);
        return;
    }

    if (!opened(settings))
        return;
    if (!mail.recipientsSjis.empty() &&
        !sizeAccepted(MessageFor(builder, mail, settings, 0, clock_())))
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
    const MessageAttachments* files = builder.texts().attachments.get();
    if (files)
        plan.subjectSjis = LoggedSubject(mail.subjectSjis, *files);
    // The files and a table's rows belong to the mail: a stopped run with other files or other
    // rows is another mail.
    // Both identities end in a merged mail's rows, which are made once: the body's lines in
    // front of them are exchanged between the two.
    std::vector<std::string> identityLines = IdentityLines(mail, JournalLines(builder.bodyJis(), files));
    plan.identity = RunJournal_Identity(mail.subjectSjis, identityLines, mail.recipientsSjis);
    const std::vector<std::string> shownLines = JournalLines(mail.bodyShownSjis, files);
    identityLines.erase(identityLines.begin(),
                        identityLines.end() - static_cast<std::ptrdiff_t>(mail.own.size()));
    identityLines.insert(identityLines.begin(), shownLines.begin(), shownLines.end());
    plan.mailIdentity = RunJournal_MailIdentity(mail.subjectSjis, identityLines);
    const std::string journalFolder =
        RunJournal_Folder(settings.logOn, settings.logPathSjis, settings.startDirectorySjis);
    plan.journalPathSjis = RunJournal_Path(journalFolder, plan.identity);
    plan.conduct = settings.conduct;
    SmtpTransport transport(client_, *connection_, settings, mail, builder, clock_,
                            [this] { return stopRequested_; });
    SendRun loop(plan, transport, steadyClock_, clock_);
    JournalState previous = RunJournal_Read(plan.journalPathSjis);
    // Recipients added after a stop make another list, but not another mail: the stopped run's
    // accepted ones are still skipped unless the user says otherwise.
    if (!previous.resumable(plan.identity, plan.recipientsSjis.size()))
        previous = RunJournal_FindCarried(journalFolder, plan.mailIdentity, plan.recipientsSjis);
    if (previous.present && !askedToResume(previous, loop)) {
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
    QString quitReply;
    if (client_.Connected() || !stopped)
        quitReply = quitAfterSending(client_);
    if (!previous.sentDataWritten) {
        if (settings.sendDataOn) {
            std::vector<std::string> lines = SentDataHead(mail);
            for (std::string& line : SentDataLines(prompts_.bodyShownNow(), builder.texts().attachments.get()))
                lines.push_back(std::move(line));
            SendData_Append(settings.sendDataPathSjis, lines);
        }
        loop.sentDataWritten();
    }
    if (!stopped)
        loop.finish(); // a stopped run keeps its journal, so that the next send can go on
    status(quitReply.isEmpty()
               ? QStringLiteral("メッセージ送信完了！")
               : QStringLiteral("メッセージ送信完了！（終了時のサーバーの応答: %1）").arg(quitReply));
    end_.refused = loop.refused();
    finish(stopped ? RunOutcome::Stopped : RunOutcome::Sent, loop.sentCount());
}

void SendRunner::testSendSteps(const RunMail& mail, RunSettings& settings, MessageTexts texts) {
    if (!hostChecked(settings))
        return;
    status(QStringLiteral("文字コード変換中！"));
    const MessageBuilder builder(std::move(texts), settings.charset);
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
    WireMessage wire = MessageFor(builder, mail, settings, 0, clock_());
    if (!sizeAccepted(wire))
        return;
    sendOrRaise(client_, std::move(wire));
    end_.sent = 1;
    const QString quitReply = quitAfterSending(client_);
    // Short enough for the status panel; the address is the user's own.
    status(quitReply.isEmpty()
               ? QStringLiteral("自分宛てにテスト送信しました")
               : QStringLiteral("自分宛てにテスト送信しました（終了時のサーバーの応答: %1）").arg(quitReply));
    finish(RunOutcome::Sent, 1);
}

} // namespace tessaly

#include "moc_send_runner.cpp"
