#include "sending/send_run.h"

#include "common/errors.h"
#include "common/text.h"
#include "sending/run_failure.h"

namespace tessaly {

namespace {

// The send log's fields are quoted and split at commas without escapes: the reason must hold
// neither, nor a line break.
std::string logSafe(std::string_view reply) {
    std::string out = OneLine(reply);
    for (char& c : out) {
        if (c == ',')
            c = ' ';
        else if (c == '"')
            c = '\'';
    }
    return out;
}

// The local time `after` from now, as "HH:mm", or "HH:mm:ss" with `seconds`.
QString clockTimeAfter(const LocalTime& now, std::chrono::milliseconds after, bool seconds = false) {
    // A try is never shown before it starts; an estimate keeps to whole seconds passed.
    const long long afterSeconds = seconds ? (after.count() + 999) / 1000 : after.count() / 1000;
    const long long at = now.hour * 3600LL + now.minute * 60LL + now.second + afterSeconds;
    QString text = QStringLiteral("%1:%2")
                       .arg(at / 3600 % 24, 2, 10, QLatin1Char('0'))
                       .arg(at / 60 % 60, 2, 10, QLatin1Char('0'));
    if (seconds)
        text += QStringLiteral(":%1").arg(at % 60, 2, 10, QLatin1Char('0'));
    return text;
}

} // namespace

SendRun::SendRun(SendRunPlan plan, MessageTransport& transport, SendPacing::Clock clock,
                 LocalClock localClock, QObject* parent)
    : QObject(parent), plan_(std::move(plan)), transport_(transport),
      localClock_(std::move(localClock)),
      log_(plan_.logOn, plan_.logPathSjis, plan_.subjectSjis, localClock_),
      pacing_(plan_.conduct.perMinute, plan_.conduct.pauseEvery, plan_.conduct.pause,
              std::move(clock)),
      policy_(plan_.conduct.skipRefused, plan_.conduct.retry, plan_.conduct.tries,
              plan_.conduct.firstRetryWait),
      skip_(plan_.recipientsSjis.size(), false) {}

SendRun::~SendRun() {
    // A journal still open here belongs to a run that did not get to its end: it stays for the
    // next send, so it must be on the disk.
    if (journal_) {
        try {
            journal_->sync();
        } catch (const std::exception&) {
            // Nothing is left to tell: its records are the kernel's already, and the next send
            // reads them back.
        }
    }
}

void SendRun::writeLog() {
    if (deferredFailure_)
        std::rethrow_exception(std::exchange(deferredFailure_, nullptr));
    if (!pendingLog_)
        return;
    const std::string nameSjis = std::move(*pendingLog_);
    pendingLog_.reset();
    log_.append(nameSjis);
}

void SendRun::tell() {
    if (const std::optional<std::size_t> done = std::exchange(doneUntold_, std::nullopt))
        emit recipientDone(*done);
    if (const std::optional<std::size_t> next = std::exchange(sendingUntold_, std::nullopt))
        emit statusChanged(QString::number(*next + 1) + QStringLiteral("件目を送信中(") +
                           fromSjis(SplitRecipient(plan_.recipientsSjis[*next]).addresseeName) + QLatin1Char(')'));
}

void SendRun::catchUp() {
    tell();
    writeLog();
}

void SendRun::catchUpWhileWaiting() noexcept {
    try {
        catchUp();
    } catch (...) {
        deferredFailure_ = std::current_exception(); // told at the next record or the loop's end
    }
}

void SendRun::catchUpQuietly() noexcept {
    try {
        catchUp();
    } catch (...) {
        // The run is failing already: its own error is the one to tell.
    }
}

void SendRun::resumeFrom(const JournalState& journal, bool resendInFlight) {
    resumed_ = journal;
    replaces(journal);
    confirmedByUser_.clear();
    for (std::size_t i = 0; i < skip_.size() && i < journal.recipients.size(); ++i) {
        const JournalOutcome o = journal.recipients[i].outcome;
        const bool confirmed = o == JournalOutcome::InFlight && !resendInFlight;
        skip_[i] = o == JournalOutcome::Accepted || confirmed;
        if (confirmed)
            confirmedByUser_.push_back(i);
    }
}

void SendRun::replaces(const JournalState& journal) {
    if (journal.pathSjis != plan_.journalPathSjis)
        replacedPathSjis_ = journal.pathSjis;
}

// The journal of this run, before its first message. One carried over from a run to fewer
// recipients is this run's own from here on: its outcomes are copied first, the old file goes
// after.
void SendRun::openJournal() {
    if (plan_.journalPathSjis.empty() || journal_)
        return;
    const bool same = resumed_ && replacedPathSjis_.empty();
    if (same) {
        journal_ = RunJournal::resume(plan_.journalPathSjis);
    } else {
        journal_ = RunJournal::create(plan_.journalPathSjis, plan_.identity, plan_.subjectSjis,
                                      plan_.recipientsSjis.size(), plan_.mailIdentity,
                                      plan_.recipientsSjis);
        if (resumed_) {
            for (std::size_t i = 0; i < resumed_->recipients.size(); ++i)
                if (resumed_->recipients[i].outcome == JournalOutcome::Accepted)
                    journal_->accepted(i);
            if (resumed_->notifySent)
                journal_->notifySent();
            if (resumed_->sentDataWritten)
                journal_->sentDataWritten();
        }
        if (!replacedPathSjis_.empty()) {
            journal_->sync();
            RunJournal_Remove(replacedPathSjis_);
        }
    }
}

QString SendRun::remainingText(std::size_t next) const {
    std::size_t remaining = 0;
    for (std::size_t i = next; i < skip_.size(); ++i)
        remaining += !skip_[i];
    return QStringLiteral("残り%1件、終了予定 %2")
        .arg(remaining)
        .arg(clockTimeAfter(localClock_(), pacing_.estimateRemaining(remaining)));
}

bool SendRun::waitFor(std::chrono::milliseconds wait, RunState state,
                      const std::function<QString()>& text) {
    if (stop_)
        return false;
    if (wait <= std::chrono::milliseconds(0))
        return true;
    catchUp();
    emit stateChanged(state);
    emit statusChanged(text());
    const bool waited = waiter_ ? waiter_(wait) : wait_.wait(wait);
    if (waited && !stop_)
        emit stateChanged(RunState::Sending);
    return waited && !stop_;
}

void SendRun::requestStop() {
    stop_ = true;
    wait_.cancel();
}

void SendRun::stopWith(const MessageOutcome& outcome, const std::string& entrySjis) {
    std::string text = outcome.errorText.empty() ? outcome.reply : outcome.errorText;
    // The server's refusal of a recipient need not say who: the text names the recipient with
    // the server's reply, and leaves out the error when it is that reply alone.
    if (outcome.result == MessageResult::RecipientRefused) {
        if (text == outcome.reply || text == outcome.reply + "\r\n" || text == outcome.reply + "\n")
            text.clear();
        if (!text.empty() && text.back() != '\n')
            text += "\r\n";
        text += QStringLiteral("宛先 %1 はサーバーに受け付けられませんでした（%2）。"
                               "アドレスを確かめてください。")
                    .arg(fromSjis(entrySjis), fromSjis(outcome.reply))
                    .toStdString();
    }
    const bool temporary = outcome.result == MessageResult::Temporary ||
                           outcome.result == MessageResult::TemporaryAfterData;
    throw StepError(FailedStepOf(outcome.step), text, temporary);
}

bool SendRun::sendAll() {
    const std::vector<std::string>& to = plan_.recipientsSjis;
    openJournal();
    // Whenever the loop ends, the window has been told of every recipient done with, the log has
    // every record and is closed, and (but for a completed run, see the end) what the journal has
    // is on the disk.
    const auto closeLog = [this] {
        catchUp();
        log_.close();
    };
    const auto syncJournal = [&] {
        closeLog();
        if (journal_)
            journal_->sync();
    };
    // What the window is told of a message done with and of the next one, and the message's send
    // log record, wait for the server's answer to the next message's first command, which they
    // would otherwise hold up; they are caught up before any wait, and whenever the loop ends.
    const auto log = [this](const std::string& nameSjis) {
        writeLog();
        if (plan_.logOn)
            pendingLog_ = nameSjis;
    };
    const auto done = [this](std::size_t index) {
        tell();
        doneUntold_ = index;
    };
    struct CatchUpOnUnwind {
        SendRun& run;
        int exceptions = std::uncaught_exceptions();
        ~CatchUpOnUnwind() {
            if (std::uncaught_exceptions() > exceptions)
                run.catchUpQuietly();
        }
    } catchUpOnUnwind{*this};
    // The next message is built while the server answers this one's data, unless the run may
    // wait in between (its Date is the time it goes out).
    const auto nextAfter = [&](std::size_t index) -> std::optional<std::size_t> {
        if (pacing_.paced())
            return std::nullopt;
        for (std::size_t j = index + 1; j < to.size(); ++j)
            if (!skip_[j])
                return j;
        return std::nullopt;
    };

    // The user knows these arrived; the send log says the server never confirmed it.
    for (const std::size_t i : confirmedByUser_) {
        if (journal_)
            journal_->accepted(i);
        log(SplitRecipient(to[i]).addresseeName + toSjis(QStringLiteral("（サーバー未確認）"), {}));
    }
    confirmedByUser_.clear();

    for (std::size_t i = 0; i < to.size(); ++i) {
        if (skip_[i]) {
            done(i);
            continue;
        }
        const bool paused = pacing_.pausingNext();
        if (!waitFor(pacing_.waitBeforeNext(), RunState::Pausing, [&] {
                return (paused ? QStringLiteral("休止中です（%1）")
                               : QStringLiteral("送信間隔を空けています（%1）"))
                    .arg(remainingText(i));
            })) {
            syncJournal();
            return false;
        }
        const RecipientParts parts = SplitRecipient(to[i]);
        sendingUntold_ = i;
        for (;;) {
            if (!transport_.connected()) {
                catchUp();
                if (!transport_.connect()) { // a stop ended the connecting
                    syncJournal();
                    return false;
                }
            }
            pacing_.started();
            bool dotSent = false;
            const MessageOutcome outcome = transport_.send(
                i, parts,
                [&] {
                    dotSent = true;
                    if (journal_)
                        journal_->sending(i, to[i]);
                },
                [this] { catchUpWhileWaiting(); }, nextAfter(i));
            pacing_.finished();
            const RunDecision decision = policy_.decide(outcome.result);
            if (decision.step == RunStep::Retry) {
                // The server did not take it: until the next try nobody need wonder whether it
                // arrived.
                if (journal_ && dotSent)
                    journal_->notDelivered(i);
                transport_.drop();
                if (!waitFor(decision.wait, RunState::WaitingToRetry, [&] {
                        return QStringLiteral("一時的なエラーのため、%1 に%2件目(%3)へもう一度送信します"
                                              "（%4回目）。サーバーの返事: %5")
                            .arg(clockTimeAfter(localClock_(), decision.wait, true),
                                 QString::number(i + 1), fromSjis(parts.addresseeName),
                                 QString::number(decision.attempt),
                                 fromSjis(OneLine(outcome.reply.empty() ? outcome.errorText
                                                                        : outcome.reply)));
                    })) {
                    syncJournal();
                    return false;
                }
                continue;
            }
            if (decision.step == RunStep::Next) {
                if (journal_)
                    journal_->accepted(i);
                ++sent_;
                log(parts.addresseeName);
            } else if (decision.step == RunStep::Skip) {
                if (journal_)
                    journal_->refused(i, outcome.reply);
                refused_.push_back({to[i], outcome.reply});
                if (plan_.logOn)
                    log(parts.addresseeName + toSjis(QStringLiteral("（宛先エラー: "), {}) +
                        logSafe(outcome.reply) + toSjis(QStringLiteral("）"), {}));
            } else {
                // A refusal after the data is an answer too: the recipient has not got the
                // message, and a resumed run must not ask whether it arrived.
                if (journal_ && decision.step == RunStep::StopUncertain)
                    journal_->noAnswer(i);
                else if (journal_ && dotSent)
                    journal_->notDelivered(i);
                syncJournal();
                stopWith(outcome, to[i]);
            }
            break;
        }
        done(i);
    }
    // A completed run's journal is removed once the copy and the sent data are out: flushing it
    // to the disk now would only make the user wait. Should the run fail before that, the
    // journal is flushed as the run is put away.
    closeLog();
    completed_ = true;
    return true;
}

void SendRun::notifySent() {
    if (journal_)
        journal_->notifySent();
}

void SendRun::sentDataWritten() {
    if (!journal_)
        return;
    journal_->sentDataWritten();
    // A stopped run's journal stays for the resume; a completed one is removed right after.
    if (!completed_)
        journal_->sync();
}

void SendRun::finish() {
    if (journal_) {
        journal_->finish();
        journal_.reset();
    }
}

} // namespace tessaly

#include "moc_send_run.cpp"
