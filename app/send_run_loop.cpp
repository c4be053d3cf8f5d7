#include "app/send_run_loop.h"

#include "common/errors.h"
#include "common/text.h"
#include "log/send_log.h"
#include "settings/settings.h"

#include <QDateTime>

namespace tessaly {

namespace {

// The server's refusal of a recipient need not say who: the text names the recipient with the
// server's reply, and leaves out the error when it is that reply alone.
[[noreturn]] void throwNamingRecipient(const MessageOutcome& outcome, const std::string& entrySjis) {
    std::string text;
    try {
        if (outcome.error)
            std::rethrow_exception(outcome.error);
    } catch (const std::exception& e) {
        text = e.what();
    }
    if (text == outcome.reply + "\r\n" || text == outcome.reply + "\n")
        text.clear();
    if (!text.empty() && text.back() != '\n')
        text += "\r\n";
    text += QStringLiteral("宛先 %1 はサーバーに受け付けられませんでした（%2）。アドレスを確かめてください。")
                .arg(fromSjis(entrySjis), fromSjis(outcome.reply))
                .toStdString();
    throw Error(text);
}

} // namespace

namespace {

// The send log's fields are quoted and split at commas without escapes: the reason must hold
// neither, nor a line break.
std::string logSafe(std::string_view reply) {
    std::string out(reply);
    for (char& c : out) {
        if (c == ',' || c == '\r' || c == '\n')
            c = ' ';
        else if (c == '"')
            c = '\'';
    }
    return out;
}

} // namespace

QString ResumeQuestionText(const JournalState& journal) {
    const std::size_t count = journal.recipients.size();
    return QStringLiteral("前回の送信は%1件目で中断しています。残りの%2件に送信しますか？")
        .arg(journal.stoppedAt() + 1)
        .arg(count - journal.acceptedCount());
}

QString SendAllAgainQuestionText(std::size_t acceptedCount) {
    return QStringLiteral("前回受け付けられた%1件の宛先にも、同じメールがもう一度届きます。\r\n"
                          "全員に送信してよろしいですか？")
        .arg(acceptedCount);
}

QString InFlightQuestionText(const JournalState& journal) {
    QString names;
    for (const std::size_t i : journal.inFlight())
        names += QStringLiteral("\r\n%1件目: %2")
                     .arg(i + 1)
                     .arg(fromSjis(journal.recipients[i].entrySjis));
    return QStringLiteral("次の宛先は送信の途中で中断したため、届いたかどうか分かりません。%1\r\n"
                          "この宛先にもう一度送信しますか？")
        .arg(names);
}

RunConduct RunConduct_From(const Settings& s) {
    RunConduct c;
    c.skipRefused = s.SkipRefused;
    c.retry = s.Retry;
    c.tries = s.RetryTries;
    c.perMinute = s.PerMinute;
    c.pauseEvery = s.PauseEvery;
    c.pause = std::chrono::seconds(s.PauseSeconds);
    return c;
}

SendRun::SendRun(RunSnapshot snapshot, MessageTransport& transport, SendPacing::Clock clock,
                 QObject* parent)
    : QObject(parent), snap_(std::move(snapshot)), transport_(transport),
      pacing_(snap_.conduct.perMinute, snap_.conduct.pauseEvery, snap_.conduct.pause,
              std::move(clock)),
      policy_(snap_.conduct.skipRefused, snap_.conduct.retry, snap_.conduct.tries,
              snap_.conduct.firstRetryWait),
      skip_(snap_.recipientsSjis.size(), false) {}

void SendRun::resumeFrom(const JournalState& journal, bool resendInFlight) {
    resumed_ = journal;
    for (std::size_t i = 0; i < skip_.size() && i < journal.recipients.size(); ++i) {
        const JournalOutcome o = journal.recipients[i].outcome;
        skip_[i] =
            o == JournalOutcome::Accepted || (o == JournalOutcome::InFlight && !resendInFlight);
    }
}

QString SendRun::remainingText(std::size_t next) const {
    std::size_t remaining = 0;
    for (std::size_t i = next; i < skip_.size(); ++i)
        remaining += !skip_[i];
    const QString end =
        QDateTime::currentDateTime()
            .addMSecs(static_cast<qint64>(pacing_.estimateRemaining(remaining).count()))
            .toString(QStringLiteral("HH:mm"));
    return QStringLiteral("残り%1件、終了予定 %2").arg(remaining).arg(end);
}

bool SendRun::waitFor(std::chrono::milliseconds wait, const std::function<QString()>& text) {
    if (stop_)
        return false;
    if (wait <= std::chrono::milliseconds(0))
        return true;
    emit statusChanged(text());
    const bool waited = waiter_ ? waiter_(wait) : wait_.wait(wait);
    return waited && !stop_;
}

void SendRun::recordLog(const std::string& nameSjis) {
    SendLog_Append(snap_.logOn, snap_.logPathSjis, snap_.subjectSjis, nameSjis);
}

void SendRun::requestStop() {
    stop_ = true;
    wait_.cancel();
}

bool SendRun::sendAll() {
    const std::vector<std::string>& to = snap_.recipientsSjis;
    if (!snap_.journalPathSjis.empty() && !journal_) {
        journal_ = resumed_ ? RunJournal::resume(snap_.journalPathSjis)
                            : RunJournal::create(snap_.journalPathSjis, snap_.identity,
                                                 snap_.subjectSjis, to.size());
    }
    const auto syncJournal = [this] {
        if (journal_)
            journal_->sync();
    };

    for (std::size_t i = 0; i < to.size(); ++i) {
        if (skip_[i]) {
            emit recipientDone(i);
            continue;
        }
        const bool paused = pacing_.pausingNext();
        if (!waitFor(pacing_.waitBeforeNext(), [&] {
                return (paused ? QStringLiteral("休止中です（%1）")
                               : QStringLiteral("送信間隔を空けています（%1）"))
                    .arg(remainingText(i));
            })) {
            syncJournal();
            return false;
        }
        const RecipientParts parts = SplitRecipient(to[i]);
        emit statusChanged(QString::number(i + 1) + QStringLiteral("件目を送信中(") +
                           fromSjis(parts.addresseeName) + QStringLiteral(")"));
        for (;;) {
            if (!transport_.connected()) {
                transport_.connect();
                if (!transport_.connected()) { // a stop ended the connecting
                    syncJournal();
                    return false;
                }
            }
            pacing_.started();
            MessageOutcome outcome = transport_.send(i, parts, [&] {
                if (journal_)
                    journal_->sending(i, to[i]);
            });
            pacing_.finished();
            const RunDecision decision = policy_.decide(outcome.result);
            if (decision.step == RunStep::Retry) {
                transport_.drop();
                const auto seconds =
                    std::chrono::duration_cast<std::chrono::seconds>(decision.wait).count();
                if (!waitFor(decision.wait, [&] {
                        return QStringLiteral("一時的なエラーのため、%1秒後にもう一度送信します"
                                              "（%2回目）")
                            .arg(seconds)
                            .arg(decision.attempt);
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
                recordLog(parts.addresseeName);
            } else if (decision.step == RunStep::Skip) {
                if (journal_)
                    journal_->refused(i, outcome.reply);
                refused_.push_back({to[i], outcome.reply});
                if (snap_.logOn)
                    recordLog(parts.addresseeName + toSjis(QStringLiteral("（宛先エラー: "), {}) +
                              logSafe(outcome.reply) + toSjis(QStringLiteral("）"), {}));
            } else {
                if (decision.step == RunStep::StopUncertain && journal_)
                    journal_->noAnswer(i);
                syncJournal();
                if (outcome.result == MessageResult::RecipientRefused)
                    throwNamingRecipient(outcome, to[i]);
                if (outcome.error)
                    std::rethrow_exception(outcome.error);
                throw Error(outcome.reply);
            }
            break;
        }
        emit recipientDone(i);
    }
    syncJournal();
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
