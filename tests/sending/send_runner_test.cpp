// The runner without widgets: a real SMTP client against a scripted server, the questions
// answered by a fake, the wall clock fixed. What a run does is checked here; what the user sees
// of it in the main window is checked in tests/app.
#include "sending/send_runner.h"

#include "fixtures/sjis.h"
#include "fixtures/smtp_scripted_server.h"
#include "fixtures/temp_start_dir.h"
#include "sending/run_failure.h"
#include "sending/run_journal.h"
#include "sending/run_prompts.h"
#include "smtp/smtp_client.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <sys/stat.h>

namespace {

using namespace tessaly;
using tessaly::test::SmtpScriptedServer;

class FakePrompts : public RunPrompts {
public:
    QStringList asked; // every text shown or asked, in order
    std::deque<Choice> resumeAnswers;
    std::deque<bool> answers;
    std::optional<std::string> password;
    std::vector<std::string> recipients; // the list "now"
    std::vector<std::string> body;       // the body field "now"

    void inform(const QString& text) override { asked << text; }
    std::optional<std::string> askPassword(const QString& question) override {
        asked << question;
        return password;
    }
    bool trustCertificate(const CertificateQuestion& question) override {
        asked << question.text;
        return next();
    }
    Choice askResume(const QString& question) override {
        asked << question;
        EXPECT_FALSE(resumeAnswers.empty()) << "unexpected: " << question.toStdString();
        if (resumeAnswers.empty())
            return Choice::Cancel;
        const Choice c = resumeAnswers.front();
        resumeAnswers.pop_front();
        return c;
    }
    bool confirmSendToEveryone(const QString& question) override {
        asked << question;
        return next();
    }
    bool confirmResendInFlight(const QString& question) override {
        asked << question;
        return next();
    }
    bool confirmLargeMessage(const QString& question) override {
        asked << question;
        return next();
    }
    void openSignInPage(const QUrl&) override { ADD_FAILURE() << "no sign-in expected"; }
    std::vector<std::string> recipientsNow() override { return recipients; }
    std::vector<std::string> bodyShownNow() override { return body; }

private:
    bool next() {
        EXPECT_FALSE(answers.empty()) << "a question nobody answers: " << asked.last().toStdString();
        if (answers.empty())
            return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
};

const LocalTime kNow{2026, 12, 7, 9, 5, 3, 540};

class SendRunnerTest : public ::testing::Test {
protected:
    TempStartDir dir;
    SmtpScriptedServer server;
    TSmtpClient client;
    FakePrompts prompts;
    SendRunner runner{client, prompts};
    std::vector<RunState> states;
    QStringList statuses;

    SendRunnerTest() {
        client.TimeOut = 30000;
        runner.setClock([] { return kNow; });
        QObject::connect(&runner, &SendRunner::stateChanged, [this](RunState s) { states.push_back(s); });
        QObject::connect(&runner, &SendRunner::statusChanged, [this](const QString& t) { statuses << t; });
        dir.write(QStringLiteral("Log.txt"), {});
        dir.write(QStringLiteral("SendData.txt"), {});
    }

    RunMail mail(int recipients) const {
        RunMail m;
        m.subjectSjis = sjis("会議");
        m.bodyLinesSjis = m.bodyShownSjis = {sjis("本文")};
        for (int i = 1; i <= recipients; ++i)
            m.recipientsSjis.push_back("r" + std::to_string(i) + "@example.jp");
        return m;
    }
    RunSettings settings() const {
        RunSettings s;
        s.hostSjis = "127.0.0.1";
        s.port = server.port();
        s.portSjis = std::to_string(s.port);
        s.userIdSjis = "pc01";
        s.fromSjis = "me@tessaly.test";
        s.logOn = true;
        s.logPathSjis = dir.filePathBytes(QStringLiteral("Log.txt"));
        s.startDirectorySjis = dir.path().toStdString();
        s.hostCheck = false;
        return s;
    }
    QStringList journals() const {
        return QDir(dir.path()).entryList({QStringLiteral("Tessaly-*.journal")}, QDir::Files);
    }
};

TEST_F(SendRunnerTest, ARunSendsEachItsOwnMessageAndTellsWhatItDoes) {
    server.greet().mail().mail().mail().quit();
    RunMail m = mail(1);
    m.recipientsSjis.push_back(sjis("山田 花子 <hanako@example.jp>"));
    RunSettings s = settings();
    s.atesaki = true;
    s.keisyouSjis = sjis("様");
    s.everySendOn = true;
    s.everySendSjis = "boss@example.jp";
    s.sendDataOn = true;
    s.sendDataPathSjis = dir.filePathBytes(QStringLiteral("SendData.txt"));
    // An entry added to the list during the run is listed in the notify copy, not sent.
    prompts.recipients = m.recipientsSjis;
    prompts.recipients.push_back("late@example.jp");
    prompts.body = {sjis("本文"), "shown after the notify copy"};
    QSignalSpy progress(&runner, &SendRunner::progressChanged);
    QSignalSpy added(&runner, &SendRunner::bodyLinesAdded);

    runner.send(m, s);

    EXPECT_TRUE(server.played());
    EXPECT_EQ(states, (std::vector<RunState>{RunState::Connecting, RunState::Sending, RunState::Ended}));
    EXPECT_EQ(statuses, (QStringList{QStringLiteral("文字コード変換中！"), QStringLiteral("HOST-OPEN中！"),
                                     QStringLiteral("ホスト接続！"), QStringLiteral("1件目を送信中(r1)"),
                                     QStringLiteral("2件目を送信中(山田 花子)"),
                                     QStringLiteral("毎回の通知先へ送信中！"), QStringLiteral("ホスト切断！"),
                                     QStringLiteral("メッセージ送信完了！")}));
    std::vector<std::pair<int, int>> steps;
    for (const QList<QVariant>& args : progress)
        steps.emplace_back(args[0].toInt(), args[1].toInt());
    EXPECT_EQ(steps, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {2, 2}, {0, 2}}));
    EXPECT_EQ(runner.lastEnd().outcome, RunOutcome::Sent);
    EXPECT_EQ(runner.lastEnd().sent, 2u);
    ASSERT_EQ(added.count(), 1);
    EXPECT_EQ(added[0][0].toStringList(),
              (QStringList{QString(40, QLatin1Char('-')), QStringLiteral("<○○　様>で宛先編集されました。"),
                           QStringLiteral("r1@example.jp"), QStringLiteral("山田 花子 <hanako@example.jp>"),
                           QStringLiteral("late@example.jp")}));

    // The fixed clock reaches the Date header and the send log; each message has its own id.
    const QList<QByteArray> stored = server.messages();
    ASSERT_EQ(stored.size(), 3);
    EXPECT_TRUE(stored[0].contains("\r\nDate: Mon, 07 Dec 2026 09:05:03 +0900\r\n"));
    EXPECT_TRUE(stored[1].contains("\r\nTo: hanako@example.jp\r\n"));
    EXPECT_NE(stored[0].mid(stored[0].indexOf("Message-ID")).left(60),
              stored[1].mid(stored[1].indexOf("Message-ID")).left(60));
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")),
              sjis(QStringLiteral("\"20261207 090503\",\"会議\",\"r1\"\r\n"
                                  "\"20261207 090503\",\"会議\",\"山田 花子\"\r\n")));
    EXPECT_EQ(dir.read(QStringLiteral("SendData.txt")),
              sjis(QStringLiteral("本文\r\nshown after the notify copy\r\n")));
    EXPECT_TRUE(journals().isEmpty());
    EXPECT_TRUE(prompts.asked.isEmpty());
}

// With 宛先エラーでも続ける the run goes past a refused recipient; the notify copy then says that
// this one did not get the mail, with the server's reply, instead of listing it as sent.
TEST_F(SendRunnerTest, TheNotifyCopyMarksARecipientTheServerRefused) {
    server.greet().mail();
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    server.expect("RCPT TO:<r2@example.jp>").send("550 5.1.1 no such user\r\n");
    server.mail().quit();
    RunSettings s = settings();
    s.conduct.skipRefused = true;
    s.everySendOn = true;
    s.everySendSjis = "boss@example.jp";
    const RunMail m = mail(2);
    prompts.recipients = m.recipientsSjis;

    runner.send(m, s);

    EXPECT_TRUE(server.played());
    EXPECT_EQ(runner.lastEnd().sent, 1u);
    ASSERT_EQ(runner.lastEnd().refused.size(), 1u);
    EXPECT_EQ(runner.lastEnd().refused[0].reply, "550 5.1.1 no such user");
    ASSERT_EQ(server.messages().size(), 2);
    // In ISO-2022-JP on the wire: "（送信できませんでした: " ... "）".
    EXPECT_TRUE(server.messages()[1].endsWith(
        "----------------------------------------\r\nr1@example.jp\r\nr2@example.jp"
        "\x1b$B!JAw?.$G$-$^$;$s$G$7$?\x1b(B: 550 5.1.1 no such user\x1b$B!K\x1b(B\r\n"))
        << server.messages()[1].toStdString();
}

TEST_F(SendRunnerTest, AFailureEndsTheRunDropsItsConnectionAndRaisesItsError) {
    server.greet().mail();
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    server.expect("RCPT TO:<*").send("250 ok\r\n");
    server.expect("DATA").send("354 go\r\n").expectData().send("554 rejected\r\n");
    // The next run opens a connection of its own and goes on where this one stopped.
    server.accept().greet().mail().mail().quit();
    const RunMail m = mail(3);
    QSignalSpy ended(&runner, &SendRunner::ended);
    try {
        runner.send(m, settings());
        ADD_FAILURE() << "no error";
    } catch (const RunFailure& e) {
        // The step and the count lead; the server's reply follows.
        EXPECT_EQ(e.Lead, QStringLiteral("「本文」の段階で送信が止まりました（1件送信済み）。サーバーの応答を確かめてから、"
                                         "もう一度送信してください（送信済みの宛先には送らずに、残りにだけ送れます）。"));
        EXPECT_EQ(e.Detail, QStringLiteral("554 rejected"));
    }
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(runner.state(), RunState::Ended);
    EXPECT_EQ(runner.lastEnd().outcome, RunOutcome::Failed);
    EXPECT_EQ(runner.lastEnd().sent, 1u);
    EXPECT_FALSE(client.Connected());
    ASSERT_EQ(journals().size(), 1);

    prompts.resumeAnswers = {Choice::Yes};
    runner.send(m, settings());
    EXPECT_EQ(prompts.asked, QStringList{QStringLiteral("前回の送信は2件目で中断しています。残りの2件に送信しますか？")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    // r2 and r3, without asking whether r2's message arrived: its refusal was an answer.
    EXPECT_TRUE(server.played());
}

// A stop during a pause ends it at once; the stopped run keeps its journal (a cancelled resume
// and one that would send to everyone again and is refused keep it too), and the next run of the
// same mail sends only the rest once the user says so.
TEST_F(SendRunnerTest, AStopDuringAPauseEndsTheRunAndTheNextOneSendsTheRest) {
    server.greet().mail().mail().quit();
    server.accept().greet().quit(); // asked, and cancelled
    server.accept().greet().quit(); // asked, and told not to send
    server.accept().greet().mail().quit();
    RunSettings s = settings();
    s.conduct.pauseEvery = 2;
    s.conduct.pause = std::chrono::minutes(10);
    QObject::connect(&runner, &SendRunner::stateChanged, [this](RunState state) {
        if (state == RunState::Pausing)
            runner.requestStop();
    });
    const RunMail m = mail(3);
    runner.send(m, s);
    EXPECT_EQ(states, (std::vector<RunState>{RunState::Connecting, RunState::Sending, RunState::Pausing,
                                             RunState::Stopping, RunState::Ended}));
    EXPECT_EQ(runner.lastEnd().outcome, RunOutcome::Stopped);
    EXPECT_EQ(statuses.last(), QStringLiteral("メッセージ送信完了！"));
    ASSERT_EQ(journals().size(), 1);

    for (const Choice cancelled : {Choice::Cancel, Choice::No}) {
        prompts.resumeAnswers = {cancelled};
        prompts.answers = {false}; // after いいえ: not everyone again either
        runner.send(m, s);
        EXPECT_EQ(runner.lastEnd().outcome, RunOutcome::Cancelled);
        EXPECT_EQ(statuses.last(), QStringLiteral("送信を取りやめました"));
        EXPECT_EQ(journals().size(), 1);
    }
    prompts.answers.clear();

    prompts.resumeAnswers = {Choice::Yes};
    runner.send(m, s);
    EXPECT_EQ(runner.lastEnd().outcome, RunOutcome::Sent);
    EXPECT_EQ(runner.lastEnd().sent, 1u);
    EXPECT_TRUE(server.played());
    EXPECT_TRUE(journals().isEmpty());
}

// Ends before anything is sent, without an error: the status says why, nothing connected.
TEST_F(SendRunnerTest, EndsBeforeSendingWhenTheHostOrThePasswordIsMissing) {
    struct Row {
        const char* name;
        std::function<void(RunSettings&)> change;
        QStringList asked;
        QString status;
    };
    const Row rows[] = {
        {"host that does not resolve",
         [](RunSettings& s) {
             s.hostCheck = true;
             s.hostSjis = "no such host";
         },
         {QStringLiteral("ホスト接続が有効ではありません！")},
         QStringLiteral("ホスト接続を確認して下さい")},
        {"password not given",
         [](RunSettings& s) {
             s.login = RunLogin::Password;
             s.loginName = "taro";
         },
         {QStringLiteral("送信サーバー 127.0.0.1:%1 にログインするパスワードを入力してください。\r\n"
                         "ログイン名：taro")},
         QStringLiteral("パスワードが入力されなかったため、送信を中止しました")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        prompts.asked.clear();
        RunSettings s = settings();
        row.change(s);
        runner.send(mail(1), s);
        QStringList expected;
        for (const QString& text : row.asked)
            expected << (text.contains(QLatin1String("%1")) ? text.arg(server.port()) : text);
        EXPECT_EQ(prompts.asked, expected);
        EXPECT_EQ(statuses.last(), row.status);
        EXPECT_EQ(runner.lastEnd().outcome, RunOutcome::Cancelled);
    }
    EXPECT_EQ(server.connections(), 0);
}

// A temporary refusal (452 to RCPT) with 一時的なエラーで再試行 on: the runner waits, connects
// anew and sends to the same recipient again; everyone gets one message.
TEST_F(SendRunnerTest, ATemporaryRefusalIsWaitedOutOnAFreshConnection) {
    server.greet().mail();
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    server.expect("RCPT TO:<r2@example.jp>").send("452 4.3.2 too many messages, try later\r\n");
    server.accept().greet().mail().mail().quit();
    RunSettings s = settings();
    s.conduct.retry = true;
    runner.setFirstRetryWait(std::chrono::milliseconds(10));
    // The clock moves on during the wait: the messages after it carry the time they go out,
    // not the time one of them may have been built ahead.
    LocalTime now = kNow;
    runner.setClock([&] { return now; });
    QObject::connect(&runner, &SendRunner::stateChanged, [&, waited = false](RunState state) mutable {
        if (state == RunState::Sending && std::exchange(waited, false))
            now.minute += 10; // the wait is over
        waited = waited || state == RunState::WaitingToRetry;
    });
    runner.send(mail(3), s);
    EXPECT_EQ(runner.lastEnd().outcome, RunOutcome::Sent);
    const QList<QByteArray> stored = server.messages();
    ASSERT_EQ(stored.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(stored[i].contains(i == 0 ? "\r\nDate: Mon, 07 Dec 2026 09:05:03 +0900\r\n"
                                              : "\r\nDate: Mon, 07 Dec 2026 09:15:03 +0900\r\n"))
            << i;
    EXPECT_EQ(runner.lastEnd().sent, 3u);
    EXPECT_NE(std::find(states.begin(), states.end(), RunState::WaitingToRetry), states.end());
    // When the next try starts, for whom, and why.
    EXPECT_TRUE(statuses.contains(QStringLiteral(
        "一時的なエラーのため、09:05:04 に2件目(r2)へもう一度送信します（1回目）。"
        "サーバーの返事: 452 4.3.2 too many messages, try later")))
        << statuses.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played());
    EXPECT_EQ(server.connections(), 2);
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")).count('\n'), 3);
}

// Every reply may come in several lines. Message 1 of 3 is accepted with multi-line replies at
// every step, message 2 refused with a multi-line reply at one step: the run stops there, and
// the send log holds message 1 alone.
struct MultiLine {
    const char* name;
    std::function<void(SmtpScriptedServer&)> secondMessage; // empty: accepted like the first
    int records;
};

void PrintTo(const MultiLine& c, std::ostream* os) { *os << c.name; }

class MultiLineReplies : public SendRunnerTest, public ::testing::WithParamInterface<MultiLine> {};

void acceptedInSeveralLines(SmtpScriptedServer& s) {
    s.expect("RSET").send("250-flushed\r\n250 ok\r\n");
    s.expect("MAIL FROM:<*").send("250-2.1.0 sender\r\n250 2.1.0 ok\r\n");
    s.expect("RCPT TO:<*").send("250-2.1.5 recipient\r\n250 2.1.5 ok\r\n");
    s.expect("DATA").send("354-go ahead\r\n354 end with .\r\n").expectData();
    s.send("250-2.0.0 queued\r\n250-as 1234\r\n250 2.0.0 ok\r\n");
}

TEST_P(MultiLineReplies, SendLogHoldsOnlyAcceptedMessages) {
    const MultiLine& c = GetParam();
    server.greet();
    acceptedInSeveralLines(server);
    if (c.secondMessage) {
        c.secondMessage(server);
    } else {
        acceptedInSeveralLines(server);
        acceptedInSeveralLines(server);
        server.quit();
    }
    if (c.secondMessage) {
        EXPECT_THROW(runner.send(mail(3), settings()), Error);
        EXPECT_FALSE(server.received().contains("RCPT TO:<r3@example.jp>"));
    } else {
        runner.send(mail(3), settings());
        EXPECT_EQ(runner.lastEnd().outcome, RunOutcome::Sent);
    }
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")).count('\n'), c.records);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.finished(); }, 5000));
    EXPECT_TRUE(server.played());
}

const QByteArray kRefusal =
    "554-5.7.1 Message rejected\r\n554-see the policy\r\n554 5.7.1 at example.jp\r\n";

INSTANTIATE_TEST_SUITE_P(
    Steps, MultiLineReplies,
    ::testing::Values(
        MultiLine{"AllAccepted", {}, 3},
        MultiLine{"MailRefused",
                  [](SmtpScriptedServer& s) {
                      s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send(kRefusal);
                  },
                  1},
        MultiLine{"RcptRefused",
                  [](SmtpScriptedServer& s) {
                      s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                      s.expect("RCPT TO:<*").send(kRefusal);
                  },
                  1},
        MultiLine{"DataRefused",
                  [](SmtpScriptedServer& s) {
                      s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                      s.expect("RCPT TO:<*").send("250 ok\r\n").expect("DATA").send(kRefusal);
                  },
                  1},
        MultiLine{"EndOfDataRefused",
                  [](SmtpScriptedServer& s) {
                      s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                      s.expect("RCPT TO:<*").send("250 ok\r\n");
                      s.expect("DATA").send("354 go\r\n").expectData().send(kRefusal);
                  },
                  1}),
    [](const ::testing::TestParamInfo<MultiLine>& info) { return std::string(info.param.name); });

// A path as the program holds it: code page 932 bytes.
std::string pathSjis(const TempStartDir& dir, const QString& name) {
    return sjis(dir.filePath(name)).toStdString();
}

// A file in the start directory, on the list as it is now.
AttachedFile attached(const TempStartDir& dir, const QString& name, const QByteArray& bytes) {
    dir.write(name, bytes);
    return AttachedFileOf(pathSjis(dir, name));
}

// Every file is checked before the connection is opened: the run raises the refusal naming the
// file, and the server sees nothing.
TEST_F(SendRunnerTest, RefusesAFileThatIsNoLongerAsAddedBeforeConnecting) {
    const QString notAFile = QStringLiteral("「%1」はファイルではないため添付できません。"
                                            "添付ファイルの一覧から削除してください。");
    struct Row {
        const char* name;
        std::function<AttachedFile()> make;
        QString refusal;
    };
    const Row rows[] = {
        {"missing",
         [&] {
             AttachedFile f = attached(dir, QStringLiteral("gone.pdf"), "%PDF");
             QFile::remove(dir.filePath(QStringLiteral("gone.pdf")));
             return f;
         },
         QStringLiteral("添付ファイル「gone.pdf」が見つかりません。添付ファイルの一覧から削除するか、"
                        "もう一度追加してください。")},
        {"folder",
         [&] {
             QDir(dir.path()).mkdir(QStringLiteral("資料"));
             return AttachedFile{pathSjis(dir, QStringLiteral("資料")), 0, 0, "inode/directory", {}};
         },
         notAFile.arg(QStringLiteral("資料"))},
        {"named pipe",
         [&] {
             const std::string path = pathSjis(dir, QStringLiteral("pipe"));
             EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
             return AttachedFile{path, 0, 0, "application/octet-stream", {}};
         },
         notAFile.arg(QStringLiteral("pipe"))},
        {"changed",
         [&] {
             AttachedFile f = attached(dir, QStringLiteral("会議資料.xlsx"), "first");
             dir.write(QStringLiteral("会議資料.xlsx"), "second, longer");
             return f;
         },
         QStringLiteral("添付ファイル「会議資料.xlsx」は追加した後に変更されています。"
                        "一覧から削除して、もう一度追加してください。")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RunMail m = mail(1);
        m.attachments = {attached(dir, QStringLiteral("fine.pdf"), "%PDF-1.4"), row.make()};
        try {
            runner.send(m, settings());
            ADD_FAILURE() << "sent";
        } catch (const Error& e) {
            EXPECT_EQ(QString::fromStdString(e.what()), row.refusal);
        }
        EXPECT_FALSE(runner.running());
    }
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(journals().isEmpty());
}

// The settings' copies go with every message of a plain run: CC in its header and envelope, BCC
// in the envelope only, both listed in the notify copy; a wrong one is refused before connecting.
TEST_F(SendRunnerTest, TheSettingsCopiesGoWithEveryMessage) {
    server.greet().mail(3).mail(3).mail().quit();
    RunSettings s = settings();
    s.cc = {"boss@example.jp"};
    s.bcc = {"archive@example.jp"};
    s.everySendOn = true;
    s.everySendSjis = "notify@example.jp";
    prompts.recipients = {"r1@example.jp", "r2@example.jp"};

    runner.send(mail(2), s);

    EXPECT_TRUE(server.played());
    EXPECT_EQ(server.received().count("RCPT TO:<archive@example.jp>"), 2);
    const QList<QByteArray> stored = server.messages();
    ASSERT_EQ(stored.size(), 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(stored[i].contains("\r\nCc: boss@example.jp\r\n")) << stored[i].toStdString();
        EXPECT_FALSE(stored[i].contains("archive"));
    }
    EXPECT_TRUE(stored[2].contains("r2@example.jp\x1b$B!J\x1b(BCC: boss@example.jp, BCC: "
                                   "archive@example.jp\x1b$B!K\x1b(B\r\n"))
        << stored[2].toStdString();

    s.bcc = {"archive@example.jp", sjis("kacho@例.jp")};
    try {
        runner.send(mail(1), s);
        ADD_FAILURE() << "sent";
    } catch (const Error& e) {
        EXPECT_EQ(QString::fromStdString(e.what()),
                  QStringLiteral("「送信サーバーの詳細」のBCCのアドレス「kacho@例.jp」に誤りがあります"
                                 "（全角文字など、アドレスに使えない文字があります）。"
                                 "アドレスを直してから、もう一度送信してください。"));
    }
    EXPECT_EQ(server.connections(), 1);
}

// A row's own files follow the run's in its message alone, read when it is built; their bytes,
// not only their names, make the run's identity; a named pipe in a row is refused, not waited on.
TEST_F(SendRunnerTest, AMergedRowCarriesItsOwnFilesAfterTheRuns) {
    server.greet().mail().mail().quit();
    dir.write(QStringLiteral("請求書1.txt"), "row one file");
    dir.write(QStringLiteral("請求書2.txt"), "row two");
    RunMail m = mail(2);
    m.own = {{sjis("件名1"), {sjis("本文1")}, {}, {}, {pathSjis(dir, QStringLiteral("請求書1.txt"))}},
             {sjis("件名2"), {sjis("本文2")}, {}, {}, {pathSjis(dir, QStringLiteral("請求書2.txt"))}}};
    m.attachments = {attached(dir, QStringLiteral("共通.pdf"), "%PDF-1.4 shared")};
    ReadOwnFiles(m);

    runner.send(m, settings());

    const QList<QByteArray> stored = server.messages();
    ASSERT_EQ(stored.size(), 2);
    const QByteArray shared = QByteArray("%PDF-1.4 shared").toBase64();
    const QByteArray one = QByteArray("row one file").toBase64();
    const QByteArray two = QByteArray("row two").toBase64();
    EXPECT_LT(stored[0].indexOf(shared), stored[0].indexOf(one)) << stored[0].toStdString();
    EXPECT_GT(stored[0].indexOf(shared), 0);
    EXPECT_FALSE(stored[0].contains(two));
    EXPECT_TRUE(stored[1].contains(two));
    EXPECT_FALSE(stored[1].contains(one));
    EXPECT_EQ(stored[1].count("Content-Disposition: attachment"), 2);

    const auto identity = [](const RunMail& mail) {
        return RunJournal_Identity(mail.subjectSjis, IdentityLines(mail, {}), mail.recipientsSjis);
    };
    RunMail changed = m;
    dir.write(QStringLiteral("請求書2.txt"), "row 2!!"); // same name, same size
    ReadOwnFiles(changed);
    EXPECT_NE(identity(m), identity(changed));

    const std::string pipe = pathSjis(dir, QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    changed.own[0].attachmentPathsSjis = {pipe};
    try {
        ReadOwnFiles(changed);
        ADD_FAILURE() << "read a named pipe";
    } catch (const Error& e) {
        EXPECT_EQ(QString::fromStdString(e.what()),
                  QStringLiteral("「pipe」はファイルではないため添付できません。"
                                 "添付ファイルの一覧から削除してください。"));
    }
}

// The size is known once the server has answered EHLO: above its SIZE the run is refused before
// the first MAIL; a server that names no limit lets the user decide above 10 MB.
TEST_F(SendRunnerTest, AMessageTooLargeIsRefusedOrAskedAboutBeforeItsFirstMail) {
    server.send("220 ready\r\n")
        .expect("EHLO pc01")
        .send("250-scripted\r\n250-SIZE 1000000\r\n250 AUTH PLAIN\r\n")
        .expect("AUTH PLAIN *")
        .send("235 ok\r\n")
        .accept()
        .greet()
        .quit();
    prompts.password = "secret";
    RunMail m = mail(1);
    m.attachments = {attached(dir, QStringLiteral("scan.pdf"), QByteArray(800000, 'x'))};
    RunSettings s = settings();
    s.login = RunLogin::Password;
    s.loginName = "taro";
    s.savePassword = false;
    try {
        runner.send(m, s);
        ADD_FAILURE() << "sent";
    } catch (const Error& e) {
        const QString text = QString::fromStdString(e.what());
        EXPECT_TRUE(QRegularExpression(QStringLiteral(
                        "^メッセージの大きさ（1,0\\d\\d,\\d\\d\\d バイト）が送信サーバーの上限（1,000,000 "
                        "バイト）を超えるため、送信できません。添付ファイルを減らしてください。$"))
                        .match(text)
                        .hasMatch())
            << text.toStdString();
    }

    m.attachments = {attached(dir, QStringLiteral("big.pdf"), QByteArray(7600000, 'x'))};
    prompts.asked.clear();
    prompts.answers = {false};
    runner.send(m, settings());
    ASSERT_EQ(prompts.asked.size(), 1);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^メッセージの大きさは 10.\\d MB です。多くのプロバイダーは "
                                                  "10MBまで受け付けます。送信しますか？$"))
                    .match(prompts.asked[0])
                    .hasMatch())
        << prompts.asked[0].toStdString();
    EXPECT_EQ(runner.lastEnd().outcome, RunOutcome::Cancelled);
    EXPECT_EQ(statuses.last(), QStringLiteral("送信を取りやめました"));
    EXPECT_TRUE(server.played());
    EXPECT_TRUE(server.messages().isEmpty());
}

// The files are read once for the run; each message carries them, and the send log, the
// sent-data file and the journal's identity name them.
TEST_F(SendRunnerTest, ARunWithFilesNamesThemInTheLogAndTheSentData) {
    server.greet().mail().mail().quit();
    RunMail m = mail(2);
    m.attachments = {attached(dir, QStringLiteral("報告書.pdf"), "%PDF-1.4 report")};
    RunSettings s = settings();
    s.sendDataOn = true;
    s.sendDataPathSjis = dir.filePathBytes(QStringLiteral("SendData.txt"));
    prompts.body = {sjis("本文")};

    runner.send(m, s);

    EXPECT_TRUE(server.played());
    const QList<QByteArray> stored = server.messages();
    ASSERT_EQ(stored.size(), 2);
    for (const QByteArray& message : stored) {
        EXPECT_TRUE(message.contains("\r\nContent-Type: multipart/mixed; boundary=\"=_Tessaly_"));
        EXPECT_TRUE(message.contains("\r\nJVBERi0xLjQgcmVwb3J0\r\n--=_Tessaly_"));
    }
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")),
              sjis(QStringLiteral("\"20261207 090503\",\"会議（添付：報告書.pdf）\",\"r1\"\r\n"
                                  "\"20261207 090503\",\"会議（添付：報告書.pdf）\",\"r2\"\r\n")));
    EXPECT_EQ(dir.read(QStringLiteral("SendData.txt")),
              sjis(QStringLiteral("本文\r\n添付ファイル：報告書.pdf\r\n")));
}

// A table run's record keeps what the rows were made from: the table's name and the Subject and
// body with their fields, as typed; an ordinary run's record stays the body alone.
TEST_F(SendRunnerTest, ATableRunsSentDataKeepsTheTemplateAndTheTable) {
    server.greet().mail().mail().quit();
    RunMail m = mail(2);
    m.subjectSjis = sjis("{{名前}}様 ご請求");
    m.own = {{sjis("山田様 ご請求"), {sjis("金額 100")}, {}, {}, {}}, {sjis("鈴木様 ご請求"), {sjis("金額 200")}, {}, {}, {}}};
    m.tableNameSjis = sjis("名簿.xlsx");
    RunSettings s = settings();
    s.sendDataOn = true;
    s.sendDataPathSjis = dir.filePathBytes(QStringLiteral("SendData.txt"));
    prompts.body = {sjis("金額 {{金額}}")};

    runner.send(m, s);

    EXPECT_TRUE(server.played());
    EXPECT_EQ(dir.read(QStringLiteral("SendData.txt")),
              sjis(QStringLiteral("差し込みデータ：名簿.xlsx\r\n件名：{{名前}}様 ご請求\r\n金額 {{金額}}\r\n")));
}

// A merged mail: each row its own Subject and body, its copies in "Cc" and the envelope, its
// blind copies in the envelope only; the notify copy lists both; a changed table is another run.
TEST_F(SendRunnerTest, AMergedRunSendsEachRowItsOwnMessageAndCopies) {
    server.greet().mail(3).mail().mail().quit();
    RunMail m = mail(2);
    m.subjectSjis = sjis("{{名前}}様");
    m.own = {{sjis("山田様"), {sjis("金額 100")}, {"boss@example.jp"}, {"audit@example.jp"}, {}},
             {sjis("鈴木様"), {sjis("金額 200")}, {}, {}, {}}};
    RunSettings s = settings();
    s.everySendOn = true;
    s.everySendSjis = "notify@example.jp";
    prompts.recipients = {"someone.else@example.jp"};
    // The run's files go with every row's own message.
    m.attachments = {attached(dir, QStringLiteral("報告書.pdf"), "%PDF-1.4 report")};

    runner.send(m, s);

    EXPECT_TRUE(server.played());
    const QByteArray received = server.received();
    for (const char* rcpt : {"RCPT TO:<r1@example.jp>", "RCPT TO:<boss@example.jp>",
                             "RCPT TO:<audit@example.jp>", "RCPT TO:<r2@example.jp>"})
        EXPECT_TRUE(received.contains(rcpt)) << rcpt;
    const QList<QByteArray> stored = server.messages();
    ASSERT_EQ(stored.size(), 3);
    EXPECT_TRUE(stored[0].contains("\r\nTo: r1@example.jp\r\nCc: boss@example.jp\r\n"));
    EXPECT_FALSE(stored[0].contains("audit@example.jp"));
    EXPECT_TRUE(stored[0].contains("\x1b$B6b3[\x1b(B 100\r\n")) << stored[0].toStdString();
    EXPECT_TRUE(stored[1].contains("\x1b$B6b3[\x1b(B 200\r\n"));
    EXPECT_FALSE(stored[1].contains("Cc:"));
    for (const QByteArray& message : stored)
        EXPECT_TRUE(message.contains("\r\nJVBERi0xLjQgcmVwb3J0\r\n--=_Tessaly_"));
    // The rows, not the recipient list, with their copies.
    EXPECT_TRUE(stored[2].contains("r1@example.jp\x1b$B!J\x1b(BCC: boss@example.jp, BCC: "
                                   "audit@example.jp\x1b$B!K\x1b(B\r\nr2@example.jp\r\n"))
        << stored[2].toStdString();

    RunMail other = m;
    other.own[1].bodyShownSjis = {sjis("金額 300")};
    EXPECT_NE(RunJournal_Identity(m.subjectSjis, IdentityLines(m, {}), m.recipientsSjis),
              RunJournal_Identity(other.subjectSjis, IdentityLines(other, {}), other.recipientsSjis));
}

} // namespace
