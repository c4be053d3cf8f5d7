// Whole send runs to 1,000 recipients through the main window, against Postfix's smtp-sink,
// beside a minimal client on blocking sockets that sends 1,000 messages of the same size over one
// connection. The two alternate round by round; see README.md.
#include "bench/support/send_run_bench_support.h"
#include "bench/support/smtp_bench_support.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kRecipients = 1000;
quint16 g_port = 0;
std::vector<double> g_runRates, g_loggedRates, g_minimalRates, g_mergedRates;

QString bodyText() {
    // About 1 KB of Japanese text: 16 lines.
    QString body;
    for (int i = 0; i < 16; ++i)
        body += QStringLiteral("回覧%1：来週の定例会議は第二会議室で行います。資料は各自ご持参ください。\n").arg(i);
    return body;
}

// state.range(0): 1 with the send log on (a record made durable per recipient), 0 without.
void BM_SendRun(benchmark::State& state) {
    const bool logged = state.range(0) != 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        bench::ProgramRun run(
            QStringLiteral("[Settei]\r\nHost=127.0.0.1\r\nPort=%1\r\nUser=pc01\r\n"
                           "From=bench@tessaly.test\r\nUserMei=山田太郎\r\nChkBox_Atesaki=1\r\n"
                           "ChkBox_Log=%2\r\n")
                .arg(g_port)
                .arg(logged ? 1 : 0),
            kRecipients, QStringLiteral("定例会議のお知らせ"), bodyText());
        const std::optional<double> ran = run.send();
        if (!ran) {
            state.SkipWithError("the run did not complete");
            break;
        }
        const double seconds = *ran;
        (logged ? g_loggedRates : g_runRates).push_back(kRecipients / seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["msgs_per_s"] = benchmark::Counter(kRecipients, benchmark::Counter::kIsRate);
}

// The plain run's recipients as the rows of a merge table, with three fields in the Subject and
// the body: each message built and converted by itself.
void BM_MergedSendRun(benchmark::State& state) {
    for (auto _ : state) {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        QByteArray table = QStringLiteral("氏名,メールアドレス,会社名,金額\r\n").toUtf8();
        for (int i = 0; i < kRecipients; ++i)
            table += QStringLiteral("会員%1,member%1@example.jp,株式会社東西商事,%2\r\n").arg(i).arg(1000 + i).toUtf8();
        QFile file(dir.filePath(QStringLiteral("名簿.csv")));
        if (!file.open(QIODevice::WriteOnly) || file.write(table) != table.size()) {
            state.SkipWithError("cannot write the table");
            break;
        }
        file.close();
        bench::ProgramRun run(
            QStringLiteral("[Settei]\r\nHost=127.0.0.1\r\nPort=%1\r\nUser=pc01\r\n"
                           "From=bench@tessaly.test\r\nUserMei=山田太郎\r\nChkBox_Atesaki=1\r\n")
                .arg(g_port),
            0, QStringLiteral("定例会議のお知らせ（{{会社名}}）"),
            QStringLiteral("{{氏名}}様　会費{{金額}}円\n") + bodyText());
        std::optional<double> ran;
        try {
            run.openTable(file.fileName());
            ran = run.send();
        } catch (const std::exception&) {
        }
        if (!ran) {
            state.SkipWithError("the run did not complete");
            break;
        }
        g_mergedRates.push_back(kRecipients / *ran);
        state.SetIterationTime(*ran);
    }
    state.counters["msgs_per_s"] = benchmark::Counter(kRecipients, benchmark::Counter::kIsRate);
}

void BM_MinimalBlockingClient(benchmark::State& state) {
    // A message of the same size as the run's: header of eight lines, 17 body lines of JIS.
    std::string header =
        "From: =?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?=<bench@tessaly.test>\r\n"
        "To: member0@example.jp\r\nSubject: =?ISO-2022-JP?B?GyRCRGpOYzJxNEQkTiQqQ04kaSQ7GyhC?=\r\n"
        "X-Mailer: Tessaly27S\r\nDate: Mon, 07 Dec 2026 22:00:00 +0900\r\nMime-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=iso-2022-jp\r\n"
        "Message-ID: <20261207220000000.1.1.00000000@tessaly.test>\r\n\r\n\r\n";
    std::string body;
    for (int i = 0; i < 17; ++i)
        body += std::string(70, 'x') + "\r\n";
    for (auto _ : state) {
        const double rate = bench::minimalClientRound(
            g_port, kRecipients, "bench@tessaly.test",
            [](int i) { return "member" + std::to_string(i) + "@example.jp"; }, header, body);
        g_minimalRates.push_back(rate);
        state.SetIterationTime(kRecipients / rate);
    }
    state.counters["msgs_per_s"] = benchmark::Counter(kRecipients, benchmark::Counter::kIsRate);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bench::SmtpSink sink;
    if (!sink.start())
        return 1;
    g_port = sink.port();

    const QString originalDir = QDir::currentPath();
    const int rounds = qEnvironmentVariableIsSet("SEND_RUN_BENCH_ROUNDS")
                           ? qEnvironmentVariableIntValue("SEND_RUN_BENCH_ROUNDS")
                           : 5;
    // Each round begins with another variant: the first after the previous round's client runs
    // on a machine that has just been busy otherwise, and no variant should always take that turn.
    const auto variants = [](const std::string& round) {
        return std::vector<std::function<void()>>{
            [=] {
                benchmark::RegisterBenchmark(("SendRun1000" + round).c_str(), BM_SendRun)
                    ->Arg(0)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
            },
            [=] {
                benchmark::RegisterBenchmark(("SendRun1000Logged" + round).c_str(), BM_SendRun)
                    ->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
            },
            [=] {
                benchmark::RegisterBenchmark(("MergedSendRun1000" + round).c_str(), BM_MergedSendRun)
                    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
            },
            [=] {
                benchmark::RegisterBenchmark(("MinimalBlockingClient1000" + round).c_str(),
                                             BM_MinimalBlockingClient)
                    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
            },
        };
    };
    for (int r = 1; r <= rounds; ++r) {
        const std::vector<std::function<void()>> round = variants("/round:" + std::to_string(r));
        for (std::size_t k = 0; k < round.size(); ++k)
            round[(k + static_cast<std::size_t>(r - 1)) % round.size()]();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QDir::setCurrent(originalDir);

    const double run = bench::median(g_runRates);
    const double logged = bench::median(g_loggedRates);
    const double minimal = bench::median(g_minimalRates);
    if (minimal > 0)
        std::printf("\nmedian messages per second: minimal blocking client %.0f; send run %.0f "
                    "(%.1f %%); send run with the send log %.0f (%.1f %%)\n",
                    minimal, run, 100.0 * run / minimal, logged, 100.0 * logged / minimal);
    // The machine's speed drifts over a run of the benchmark (other work, a shared host): each
    // round's runs set beside the client of the same round drift less than medians taken apart.
    const auto pairedShare = [](const std::vector<double>& rates, const std::vector<double>& of) {
        std::vector<double> shares;
        for (std::size_t r = 0; r < rates.size() && r < of.size(); ++r)
            shares.push_back(100.0 * rates[r] / of[r]);
        return shares.empty() ? 0.0 : bench::median(shares);
    };
    if (!g_minimalRates.empty())
        std::printf("median of the rounds' shares of the client's rate: send run %.1f %%; with the "
                    "send log %.1f %%\n",
                    pairedShare(g_runRates, g_minimalRates), pairedShare(g_loggedRates, g_minimalRates));
    const double merged = bench::median(g_mergedRates);
    if (run > 0)
        std::printf("median messages per second: merged run (3 fields) %.0f, %.1f %% of the send run; "
                    "median of the rounds' shares %.1f %%\n",
                    merged, 100.0 * merged / run, pairedShare(g_mergedRates, g_runRates));
    return 0;
}
