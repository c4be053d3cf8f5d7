#include "sending/send_run.h"
#include "sending/run_prompts.h"

#include "common/errors.h"
#include "fixtures/temp_start_dir.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

#include <deque>
#include <map>

using namespace tessaly;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

// A server as the loop sees it: every message is accepted unless the script says otherwise for
// that attempt (counted over the whole run, from 1). What the server accepted is counted per
// recipient, so that a message delivered twice shows.
class FakeTransport : public MessageTransport {
public:
    std::map<int, MessageResult> script;  // attempt number -> result
    std::map<std::size_t, int> delivered; // recipient -> messages the server has
    std::vector<std::chrono::steady_clock::time_point> starts;
    std::function<std::chrono::steady_clock::time_point()> clock;
    int attempts = 0;
    int connects = 0;
    int drops = 0;
    int closeIdleAfter = 0; // the server closes the connection after this many messages
    bool open = false;
    std::function<void()> whileFirstReplyWork; // what the run gave for the attempt's first reply
    std::function<void(int attempt)> duringFirstReply;

    bool connected() const override { return open; }
    bool connect() override {
        ++connects;
        open = true;
        return true;
    }
    void drop() override {
        ++drops;
        open = false;
    }
    MessageOutcome send(std::size_t index, const RecipientParts&,
                        const std::function<void()>& beforeDot,
                        const std::function<void()>& whileFirstReply,
                        std::optional<std::size_t>) override {
        EXPECT_TRUE(open) << "sent without a connection";
        ++attempts;
        if (duringFirstReply)
            duringFirstReply(attempts);
        if (whileFirstReply)
            whileFirstReply();
        if (clock)
            starts.push_back(clock());
        const auto scripted = script.find(attempts);
        const MessageResult result =
            scripted == script.end() ? MessageResult::Accepted : scripted->second;
        MessageOutcome outcome;
        outcome.result = result;
        switch (result) {
        case MessageResult::Accepted:
            beforeDot();
            ++delivered[index];
            break;
        case MessageResult::NoAnswer:
            beforeDot();
            ++delivered[index]; // the server took it; the answer was lost
            outcome.errorText = "Connection lost";
            break;
        case MessageResult::RecipientRefused:
            outcome.reply = "550 5.1.1 no such user";
            break;
        case MessageResult::Temporary:
            outcome.reply = "452 4.3.2 too many messages, try later";
            outcome.errorText = outcome.reply;
            break;
        default:
            outcome.errorText = "failed";
            break;
        }
        if (closeIdleAfter > 0 && attempts % closeIdleAfter == 0)
            open = false;
        return outcome;
    }
};

class SendRunTest : public ::testing::Test {
protected:
    TempStartDir dir;
    FakeTransport server;
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    std::vector<milliseconds> waits;

    SendRunPlan snapshot(int count, RunConduct conduct = {}) {
        SendRunPlan s;
        s.subjectSjis = "Circular";
        for (int i = 1; i <= count; ++i)
            s.recipientsSjis.push_back("m" + std::to_string(i) + "@example.jp");
        s.identity = RunJournal_Identity(s.subjectSjis, {"body"}, s.recipientsSjis);
        s.journalPathSjis = RunJournal_Path(dir.path().toStdString(), s.identity);
        conduct.firstRetryWait = 30s;
        s.conduct = conduct;
        return s;
    }
    // A run on a fake clock: every wait advances it.
    std::unique_ptr<SendRun> makeRun(const SendRunPlan& s) {
        server.clock = [this] { return now; };
        auto run = std::make_unique<SendRun>(s, server, [this] { return now; });
        run->setWaiter([this](milliseconds wait) {
            waits.push_back(wait);
            now += wait;
            return true;
        });
        return run;
    }
    JournalState journal(const SendRunPlan& s) const { return RunJournal_Read(s.journalPathSjis); }
    bool everyoneOnce(int count) const {
        if (server.delivered.size() != static_cast<std::size_t>(count))
            return false;
        for (const auto& [index, times] : server.delivered)
            if (times != 1)
                return false;
        return true;
    }
};

TEST_F(SendRunTest, ATemporaryRefusalAfterThirtyMessagesIsWaitedOutOrResumedLater) {
    // With retry on: the 31st message is refused for now, waited out, and everyone gets one.
    {
        RunConduct conduct;
        conduct.retry = true;
        const SendRunPlan s = snapshot(40, conduct);
        server.script = {{31, MessageResult::Temporary}};
        auto run = makeRun(s);
        EXPECT_TRUE(run->sendAll());
        EXPECT_TRUE(everyoneOnce(40));
        EXPECT_EQ(waits, std::vector<milliseconds>{30s});
        EXPECT_EQ(server.connects, 2); // a fresh connection after the wait
        run->finish();
        EXPECT_FALSE(journal(s).present);
    }
    // With retry off: the run stops with the server's reply; the next run sends the other ten.
    server = FakeTransport{};
    const SendRunPlan s = snapshot(40);
    server.script = {{31, MessageResult::Temporary}};
    auto first = makeRun(s);
    QSignalSpy firstDone(first.get(), &SendRun::recipientDone);
    try {
        first->sendAll();
        ADD_FAILURE() << "the run went on";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "452 4.3.2 too many messages, try later");
    }
    const JournalState stopped = journal(s);
    ASSERT_TRUE(stopped.resumable(s.identity, 40));
    EXPECT_EQ(stopped.acceptedCount(), 30u);
    EXPECT_EQ(stopped.stoppedAt(), 30u);
    EXPECT_TRUE(stopped.inFlight().empty());
    EXPECT_EQ(firstDone.count(), 30); // every accepted one is told, though the run failed

    server.script.clear();
    server.open = false;
    first.reset(); // as the runner does: a run's journal is closed before the next run opens it
    auto second = makeRun(s);
    QSignalSpy done(second.get(), &SendRun::recipientDone);
    second->resumeFrom(stopped, false);
    EXPECT_TRUE(second->sendAll());
    EXPECT_EQ(second->sentCount(), 10u);
    EXPECT_EQ(done.count(), 40); // the progress covers the whole list
    EXPECT_TRUE(everyoneOnce(40));
}

TEST_F(SendRunTest, ARefusedRecipientIsListedAndSkippedOrEndsTheRun) {
    const QString log = dir.filePath(QStringLiteral("Log.txt"));
    dir.write(QStringLiteral("Log.txt"), {});
    for (const bool skip : {true, false}) {
        SCOPED_TRACE(skip ? "skipping" : "not skipping");
        server = FakeTransport{};
        dir.write(QStringLiteral("Log.txt"), {});
        RunConduct conduct;
        conduct.skipRefused = skip;
        SendRunPlan s = snapshot(5, conduct);
        s.logOn = true;
        s.logPathSjis = log.toStdString();
        server.script = {{3, MessageResult::RecipientRefused}};
        auto run = makeRun(s);
        if (!skip) {
            EXPECT_THROW(run->sendAll(), Error);
            EXPECT_EQ(journal(s).stoppedAt(), 2u);
            EXPECT_TRUE(journal(s).inFlight().empty());
            EXPECT_EQ(dir.read(QStringLiteral("Log.txt")).count('\n'), 2);
            continue;
        }
        EXPECT_TRUE(run->sendAll());
        EXPECT_EQ(server.delivered.size(), 4u);
        ASSERT_EQ(run->refused().size(), 1u);
        EXPECT_EQ(run->refused()[0].entrySjis, "m3@example.jp");
        EXPECT_EQ(run->refused()[0].reply, "550 5.1.1 no such user");
        EXPECT_EQ(journal(s).recipients[2].outcome, JournalOutcome::Refused);
        // The send log names it with the reason (Shift-JIS "（宛先エラー: " ... "）").
        EXPECT_TRUE(dir.read(QStringLiteral("Log.txt"))
                        .contains("\"m3\x81\x69\x88\xb6\x90\xe6\x83\x47\x83\x89\x81\x5b: "
                                  "550 5.1.1 no such user\x81\x6a\"\r\n"));
        EXPECT_EQ(dir.read(QStringLiteral("Log.txt")).count('\n'), 5);
    }
}

// A message's record is written while the server answers the next message's first command; a
// log that cannot be written then still ends the run, once that message's outcome is recorded.
TEST_F(SendRunTest, TheSendLogAndTheWindowAreToldWhileTheNextMessageWaitsAndALogFailureEndsTheRun) {
    for (const bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "the log becomes a folder" : "the log stays");
        server = FakeTransport{};
        dir.write(QStringLiteral("Log.txt"), {});
        SendRunPlan s = snapshot(3);
        s.logOn = true;
        s.logPathSjis = dir.filePathBytes(QStringLiteral("Log.txt"));
        std::vector<qsizetype> linesBefore;
        std::vector<qsizetype> doneBefore;
        std::unique_ptr<SendRun> run;
        std::optional<QSignalSpy> done;
        server.duringFirstReply = [&](int attempt) {
            linesBefore.push_back(dir.read(QStringLiteral("Log.txt")).count('\n'));
            doneBefore.push_back(done->count());
            if (failing && attempt == 2) {
                QFile::remove(dir.filePath(QStringLiteral("Log.txt")));
                QDir(dir.path()).mkdir(QStringLiteral("Log.txt"));
            }
        };
        run = makeRun(s);
        done.emplace(run.get(), &SendRun::recipientDone);
        if (failing) {
            EXPECT_THROW(run->sendAll(), FileError);
            EXPECT_EQ(server.delivered.size(), 2u);
            EXPECT_EQ(journal(s).recipients[1].outcome, JournalOutcome::Accepted);
            continue;
        }
        EXPECT_TRUE(run->sendAll());
        EXPECT_EQ(linesBefore, (std::vector<qsizetype>{0, 0, 1}));
        EXPECT_EQ(doneBefore, (std::vector<qsizetype>{0, 0, 1}));
        EXPECT_EQ(dir.read(QStringLiteral("Log.txt")).count('\n'), 3);
        EXPECT_EQ(done->count(), 3);
    }
}

TEST_F(SendRunTest, AMessageWithoutAnAnswerIsNamedAndSentAgainOnlyIfTheUserSaysSo) {
    for (const bool resend : {false, true}) {
        SCOPED_TRACE(resend ? "sent again" : "not sent again");
        server = FakeTransport{};
        RunConduct conduct;
        conduct.retry = true; // retries never cover a message the server may have
        dir.write(QStringLiteral("Log.txt"), {});
        SendRunPlan s = snapshot(6, conduct);
        s.logOn = true;
        s.logPathSjis = dir.filePathBytes(QStringLiteral("Log.txt"));
        server.script = {{4, MessageResult::NoAnswer}};
        auto run = makeRun(s);
        EXPECT_THROW(run->sendAll(), Error);
        const JournalState left = journal(s);
        EXPECT_EQ(left.inFlight(), std::vector<std::size_t>{3});
        EXPECT_EQ(left.recipients[3].entrySjis, "m4@example.jp");
        EXPECT_EQ(left.stoppedAt(), 3u);

        EXPECT_EQ(ResumeQuestionText(left),
                  QStringLiteral("前回の送信は4件目で中断しています。残りの2件に送信しますか？\r\n"
                                 "ほかに、届いたかどうか分からない宛先が1件あります"
                                 "（「はい」のあとで確かめます）。"));
        EXPECT_EQ(
            InFlightQuestionText(left),
            QStringLiteral("次の宛先は送信の途中で中断したため、届いたかどうか分かりません。\r\n"
                           "4件目: m4@example.jp\r\nこの宛先にもう一度送信しますか？"));

        server.script.clear();
        server.open = false;
        run.reset();
        auto again = makeRun(s);
        again->resumeFrom(left, resend);
        EXPECT_TRUE(again->sendAll());
        EXPECT_EQ(server.delivered.size(), 6u);
        EXPECT_EQ(server.delivered[3], resend ? 2 : 1);
        EXPECT_EQ(again->sentCount(), resend ? 3u : 2u);
        // Not sent again, m4 is logged all the same, marked (Shift-JIS "（サーバー未確認）").
        const QByteArray log = dir.read(QStringLiteral("Log.txt"));
        EXPECT_EQ(log.count('\n'), 6);
        EXPECT_EQ(log.contains("\"m4\x81\x69\x83\x54\x81\x5b\x83\x6f\x81\x5b\x96\xa2\x8a\x6d\x94\x46\x81\x6a\""),
                  !resend);
    }
}

TEST_F(SendRunTest, AConnectionClosedBetweenMessagesIsOpenedAgain) {
    // The server closes an idle connection after every 4 messages: reconnect before the next.
    server.closeIdleAfter = 4;
    RunConduct conduct;
    conduct.retry = true;
    const SendRunPlan s = snapshot(10, conduct);
    auto run = makeRun(s);
    EXPECT_TRUE(run->sendAll());
    EXPECT_EQ(server.connects, 3);
    EXPECT_TRUE(everyoneOnce(10));

    // Lost while sending (before the data's end): with retry, the same recipient once more.
    server = FakeTransport{};
    server.script = {{2, MessageResult::ConnectionLost}, {3, MessageResult::ConnectionLost}};
    run.reset();
    auto lost = makeRun(s);
    waits.clear();
    EXPECT_TRUE(lost->sendAll());
    EXPECT_EQ(waits, (std::vector<milliseconds>{30s, 60s}));
    EXPECT_TRUE(everyoneOnce(10));
}

TEST_F(SendRunTest, PacesSixtyAMinute) {
    RunConduct conduct;
    conduct.perMinute = 60;
    const SendRunPlan s = snapshot(121, conduct);
    auto run = makeRun(s);
    QSignalSpy status(run.get(), &SendRun::statusChanged);
    EXPECT_TRUE(run->sendAll());
    ASSERT_EQ(server.starts.size(), 121u);
    EXPECT_EQ(server.starts[60] - server.starts[0], 60s);
    EXPECT_EQ(server.starts[120] - server.starts[0], 120s);
    // While it waits, the status says how many are left and when the run will end.
    bool toldTheRest = false;
    for (const QList<QVariant>& args : status)
        toldTheRest |= args.at(0).toString().startsWith(
            QStringLiteral("送信間隔を空けています（残り120件、終了予定 "));
    EXPECT_TRUE(toldTheRest);
}

TEST_F(SendRunTest, AStopDuringAPauseEndsItAtOnce) {
    RunConduct conduct;
    conduct.pauseEvery = 2;
    conduct.pause = std::chrono::minutes(10);
    const SendRunPlan s = snapshot(5, conduct);
    SendRun run(s, server); // the real wait, on the real clock
    QTimer::singleShot(20, &run, [&] { run.requestStop(); });
    EXPECT_FALSE(run.sendAll());
    EXPECT_EQ(server.delivered.size(), 2u);
    const JournalState left = journal(s);
    EXPECT_TRUE(left.resumable(s.identity, 5));
    EXPECT_EQ(left.stoppedAt(), 2u);
}

} // namespace
