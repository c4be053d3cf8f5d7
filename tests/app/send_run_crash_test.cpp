// A long run killed with SIGKILL at random moments and started again in the same start
// directory each time, answering the resume question with yes: in the end every recipient has
// exactly one message, except those in flight at a kill, which the resume question named and
// which were not sent again. The same holds for a run over a table, each row with its own body.
#include "fixtures/smtp_real_server.h"
#include "fixtures/temp_start_dir.h"
#include "fixtures/test_ini.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

#include <map>

namespace {

using tessaly::test::RealSmtpServer;

constexpr int kRecipients = 200;
constexpr int kKills = 10;

class SendRunCrash : public ::testing::TestWithParam<bool> {}; // true: over a table

TEST_P(SendRunCrash, KilledTenTimesEveryoneGetsOneMessageExceptThoseNamedInFlight) {
    const bool table = GetParam();
    TempStartDir dir;
    const QString sender = QStringLiteral("crash-%1-%2@tessaly.test")
                               .arg(QCoreApplication::applicationPid())
                               .arg(QDateTime::currentMSecsSinceEpoch());
    // 20 ms between messages: a run of four seconds, long enough to be cut often.
    dir.write(QStringLiteral("TSY2.ini"),
              TestIni({{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
                       {QStringLiteral("Port"), QString::number(RealSmtpServer::port())},
                       {QStringLiteral("User"), QStringLiteral("pc01")},
                       {QStringLiteral("From"), sender},
                       {QStringLiteral("ChkBox_Log"), QStringLiteral("1")},
                       {QStringLiteral("Log"), dir.filePath(QStringLiteral("Log.txt"))}})
                  .window(QStringLiteral("Main_X"), QStringLiteral("0"))
                  .window(QStringLiteral("Main_Y"), QStringLiteral("0"))
                  .submission(QStringLiteral("PerMinute"), QStringLiteral("3000"))
                  .bytes());
    dir.write(QStringLiteral("Log.txt"), {});
    QByteArray list;
    for (int i = 1; i <= kRecipients; ++i)
        list += "r" + QByteArray::number(i) + "@example.jp\r\n";
    dir.write(QStringLiteral("recipients.txt"), list);
    if (table) {
        QByteArray csv = "\xEF\xBB\xBF" "メール,金額\r\n";
        for (int i = 1; i <= kRecipients; ++i)
            csv += "r" + QByteArray::number(i) + "@example.jp,A" + QByteArray::number(i * 7) + "\r\n";
        dir.write(QStringLiteral("table.csv"), csv);
    }

    const QString child =
        QCoreApplication::applicationDirPath() + QStringLiteral("/crash_run_child");
    QSet<QString> namedInFlight;
    const QRegularExpression inFlight(QStringLiteral("(\\d+)件目: (\\S+)"));
    const auto run = [&](int killAfterMs) {
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(child, {});
        EXPECT_TRUE(process.waitForStarted(10000));
        bool finished;
        if (killAfterMs > 0) {
            finished = process.waitForFinished(killAfterMs);
            if (!finished) {
                process.kill(); // SIGKILL: no handler, no clean-up
                process.waitForFinished(10000);
            }
        } else {
            finished = process.waitForFinished(240000);
        }
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        for (const QString& line : out.split(QLatin1Char('\n'))) {
            EXPECT_FALSE(line.startsWith(QStringLiteral("ERROR"))) << line.toStdString();
            if (line.startsWith(QStringLiteral("QUESTION"))) {
                auto it = inFlight.globalMatch(line);
                while (it.hasNext())
                    namedInFlight.insert(it.next().captured(2));
            }
        }
        return out;
    };

    // Kills spread over the run's life: while connecting, between messages, in a body, between
    // "." and its answer; the seed is printed so that a failure can be replayed.
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    int kills = 0;
    QString last;
    while (kills < kKills) {
        last = run(50 + static_cast<int>(random.bounded(700u)));
        if (last.contains(QStringLiteral("STATUS ")))
            break; // the run ended before the kill came
        ++kills;
    }
    if (kills == kKills)
        last = run(0);
    EXPECT_GE(kills, kKills / 2);
    EXPECT_TRUE(last.contains(QStringLiteral("STATUS メッセージ送信完了！"))) << last.toStdString();

    std::map<QString, int> received;
    for (const auto& message : RealSmtpServer::messagesFrom(sender)) {
        for (const QString& to : message.rcptTos) {
            ++received[to];
            // Each row's message carries its own value, whichever run sent it.
            if (table) {
                const QByteArray value = "A" + QByteArray::number(to.mid(1, to.indexOf('@') - 1).toInt() * 7);
                EXPECT_TRUE(message.data.contains("\r\nBody " + value + "\r\n")) << to.toStdString();
            }
        }
    }
    int missingNamed = 0;
    for (int i = 1; i <= kRecipients; ++i) {
        const QString to = QStringLiteral("r%1@example.jp").arg(i);
        const int count = received.count(to) ? received[to] : 0;
        if (namedInFlight.contains(to)) {
            EXPECT_LE(count, 1) << to.toStdString(); // named, and not sent again
            missingNamed += count == 0;
        } else {
            EXPECT_EQ(count, 1) << to.toStdString();
        }
    }
    std::printf("%d kills; in flight at a kill and named: %lld (of them without a message: %d)\n",
                kills, static_cast<long long>(namedInFlight.size()), missingNamed);
    // The finished run left no journal behind.
    EXPECT_TRUE(
        QDir(dir.path()).entryList({QStringLiteral("Tessaly-*.journal")}, QDir::Files).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(ListAndTable, SendRunCrash, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Table" : "List"; });

} // namespace
