// The ways a user goes on after a run that did not get through, driven through the window and
// counted at the real server: every recipient gets the mail exactly once. The server plays one
// failure per address (tests/fixtures/smtp_real_server.py): "close-once." closes the connection
// at its RCPT, "451-once." answers its "." with 451.
#include "app_harness.h"

#include "fixtures/smtp_real_server.h"
#include "sending/send_runner.h"

#include <QDateTime>
#include <QDir>
#include <QTextCursor>
#include <algorithm>
#include <map>

namespace {

using apptest::App;
using apptest::IniValues;
using tessaly::test::RealSmtpServer;
using Kind = FakeDialogs::Kind;

// A name no other test and no earlier run uses: the server and its one-shot failures are shared.
QString unique(const QString& name) {
    return QStringLiteral("%1-%2-%3")
        .arg(name)
        .arg(QCoreApplication::applicationPid())
        .arg(QDateTime::currentMSecsSinceEpoch());
}

IniValues settingsFor(const QString& sender, IniValues more = {}) {
    IniValues values = {{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
                        {QStringLiteral("Port"), QString::number(RealSmtpServer::port())},
                        {QStringLiteral("User"), QStringLiteral("pc01")},
                        {QStringLiteral("From"), sender},
                        {QStringLiteral("ChkBox_Log"), QStringLiteral("1")},
                        {QStringLiteral("ChkBox_SendData"), QStringLiteral("1")}};
    values.insert(values.end(), more.begin(), more.end());
    return values;
}

// `count` addresses of the test; the one at `failing` (from 1) asks the server for `failure`.
QStringList recipientsOf(const QString& tag, int count, int failing, const QString& failure) {
    QStringList list;
    for (int i = 1; i <= count; ++i)
        list << (i == failing ? failure : QString()) + QStringLiteral("%1-r%2@example.jp").arg(tag).arg(i);
    return list;
}

// How many messages each recipient got from `sender`.
std::map<QString, int> receivedBy(const QString& sender) {
    std::map<QString, int> count;
    for (const auto& m : RealSmtpServer::messagesFrom(sender))
        for (const QString& to : m.rcptTos)
            ++count[to];
    return count;
}

void expectEachOnce(const QString& sender, const QStringList& recipients) {
    std::map<QString, int> expected;
    for (const QString& r : recipients)
        expected[r] = 1;
    EXPECT_EQ(receivedBy(sender), expected);
}

int journalCount(App& app) {
    return int(QDir(app.dir.path()).entryList({QStringLiteral("Tessaly-*.journal")}).size());
}

void expectFailedButSendable(App& app) {
    EXPECT_GE(app.dialogs.count(Kind::Error), 1);
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    EXPECT_FALSE(app.tool("TB_Stop")->isEnabled());
    EXPECT_EQ(journalCount(app), 1);
}

void expectCompleted(App& app) {
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    EXPECT_EQ(app.dialogs.count(Kind::Error), 0) << app.dialogs.lastText().toStdString();
    EXPECT_EQ(journalCount(app), 0);
}

// The guide's route: the mail kept with 送信内容保存 (the signature in it), the program started
// again, the body read back with 本文読み込み and the list from a recipients file in another
// order. The body reads back as it went out, so the run is recognised and continued.
TEST(ResumeReal, SavedMailReadBackAfterARestartContinuesTheRun) {
    const QString tag = unique(QStringLiteral("guide"));
    const QString sender = tag + QStringLiteral("@tessaly.test");
    const QStringList to = recipientsOf(tag, 20, 11, QStringLiteral("close-once."));
    TempStartDir sig;
    sig.write(QStringLiteral("sig.txt"), "Taro Yamada\r\ntaro@tessaly.test\r\n");
    App app(settingsFor(sender, {{QStringLiteral("Syomei"), sig.filePath(QStringLiteral("sig.txt"))},
                                 {QStringLiteral("ChkBox_Syomei"), QStringLiteral("1")}}));
    for (const QString& r : to)
        app.typeRecipient(r);
    app.edit("Edt_Subject")->setText(QStringLiteral("回覧"));
    app.body()->moveCursor(QTextCursor::Start);
    app.body()->insertPlainText(QStringLiteral("各位\n本文です。\n"));
    const QString sent = app.body()->toPlainText();
    app.tool("TB_Send")->click();
    expectFailedButSendable(app);
    ASSERT_EQ(RealSmtpServer::messagesFrom(sender).size(), 10u);

    app.dialogs.queueFileName(app.dir.filePath(QStringLiteral("body.txt")));
    app.tool("TB_Save")->click();
    QStringList reversed = to;
    std::reverse(reversed.begin(), reversed.end());
    app.dir.write(QStringLiteral("to.txt"), reversed.join(QStringLiteral("\r\n")).toLatin1() + "\r\n");

    app.program.reset(); // the program ends and starts again in the same folder
    app.program = std::make_unique<tessaly::Program>(app.dialogs, app.keyring);
    app.program->start();
    app.dialogs.clear();
    app.edit("Edt_Subject")->setText(QStringLiteral("回覧"));
    app.dialogs.queueFileName(app.dir.filePath(QStringLiteral("body.txt")));
    app.tool("TB_Read")->click();
    EXPECT_EQ(app.body()->toPlainText(), sent);
    app.dialogs.queueFileName(app.dir.filePath(QStringLiteral("to.txt")));
    app.child<QPushButton>("Cmd_To")->click();
    app.dialogs.queueChoice(tessaly::Choice::Yes);
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.dialogs.texts(Kind::Question),
              QStringList{QStringLiteral("前回の送信は11件目で中断しています。残りの10件に送信しますか？")});
    expectCompleted(app);
    expectEachOnce(sender, to);
    for (const auto& m : RealSmtpServer::messagesFrom(sender))
        EXPECT_EQ(m.data.count("Taro Yamada"), 1) << m.rcptTos.join(u',').toStdString();
}

// The server closes the connection at message 11 of 20; the user adds one recipient and sends:
// the question comes, and the ten who have the mail do not get it again.
TEST(ResumeReal, ARecipientAddedAfterAnErrorIsSentWithTheRestOnly) {
    const QString tag = unique(QStringLiteral("added"));
    const QString sender = tag + QStringLiteral("@tessaly.test");
    QStringList to = recipientsOf(tag, 20, 11, QStringLiteral("close-once."));
    App app(settingsFor(sender));
    for (const QString& r : to)
        app.typeRecipient(r);
    app.edit("Edt_Subject")->setText(QStringLiteral("回覧"));
    app.setBody(QStringLiteral("本文"));
    app.tool("TB_Send")->click();
    expectFailedButSendable(app);

    app.dialogs.clear();
    to << tag + QStringLiteral("-late@example.jp");
    app.typeRecipient(to.last());
    app.dialogs.queueChoice(tessaly::Choice::Yes);
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.dialogs.texts(Kind::Question),
              QStringList{QStringLiteral("前回の送信は11件目で中断しています。残りの11件に送信しますか？\r\n"
                                         "（残りには、前回のあとに加えた宛先1件を含みます）")});
    expectCompleted(app);
    expectEachOnce(sender, to);
    EXPECT_EQ(app.dir.read(QStringLiteral("Log.txt")).count('\n'), 21);
}

// 451 to ".": the server did not take the message. With retries it is sent again in the same
// run; without, the run stops and the resume sends it without asking whether it arrived.
class ResumeReal451 : public ::testing::TestWithParam<bool> {};

TEST_P(ResumeReal451, TheRefusedMessageIsSentOnceMore) {
    const bool retry = GetParam();
    const QString tag = unique(retry ? QStringLiteral("451-retry") : QStringLiteral("451-stop"));
    const QString sender = tag + QStringLiteral("@tessaly.test");
    const QStringList to = recipientsOf(tag, 3, 2, QStringLiteral("451-once."));
    App app(settingsFor(sender));
    app.program->settings().Retry = retry;
    app.main().runner().setFirstRetryWait(std::chrono::milliseconds(10));
    for (const QString& r : to)
        app.typeRecipient(r);
    app.edit("Edt_Subject")->setText(QStringLiteral("回覧"));
    app.setBody(QStringLiteral("本文"));
    app.tool("TB_Send")->click();
    if (retry) {
        // The client's refusal event still shows its box; the run went on without a word more.
        EXPECT_EQ(app.dialogs.texts(Kind::Error),
                  QStringList{QStringLiteral("メール送信中にエラーが発生しました。")});
        app.dialogs.clear();
    } else {
        expectFailedButSendable(app);
        app.dialogs.clear();
        app.dialogs.queueChoice(tessaly::Choice::Yes);
        app.tool("TB_Send")->click();
        EXPECT_EQ(app.dialogs.texts(Kind::Question),
                  QStringList{QStringLiteral("前回の送信は2件目で中断しています。残りの2件に送信しますか？")});
    }
    expectCompleted(app);
    expectEachOnce(sender, to);
}

INSTANTIATE_TEST_SUITE_P(Retry, ResumeReal451, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

} // namespace
