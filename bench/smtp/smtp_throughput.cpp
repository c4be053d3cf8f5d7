// Messages per second over one connection to Postfix's smtp-sink: TSmtpClient beside a minimal
// client on blocking sockets that sends the same bytes and waits for each reply the same way.
// The two run in alternating rounds; see README.md.
#include "bench/support/smtp_bench_support.h"
#include "smtp/smtp_client.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kMessages = 2000;
quint16 g_port = 0;
std::vector<double> g_clientRates, g_minimalRates;

std::vector<std::string> bodyLines() {
    // About 1 KB: 16 lines of 62 characters.
    std::vector<std::string> lines;
    for (int i = 0; i < 16; ++i)
        lines.push_back("Line " + std::to_string(i) + " of the circular: " + std::string(62 - 19, 'x'));
    return lines;
}

void fillMessage(tessaly::TPostMessage& m) {
    m.FromAddress = "bench@tessaly.test";
    m.FromName = "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=";
    m.Subject = "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=";
    m.LocalProgram = "Tessaly27S";
    m.Body = bodyLines();
}

const char* const kRecipient = "taro@example.jp";

void BM_TSmtpClient(benchmark::State& state) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        tessaly::TSmtpClient client;
        client.Host = "127.0.0.1";
        client.Port = g_port;
        client.TimeOut = qEnvironmentVariableIsSet("SMTP_BENCH_TIMEOUT") ? qEnvironmentVariableIntValue("SMTP_BENCH_TIMEOUT") : 30000;
        client.UserID = "pc01";
        fillMessage(client.PostMessage);
        client.OnSendStart = [&client](QObject*) {
            client.FinalHeader.SetHeaderValue("Content-Type", "text/plain; charset=iso-2022-jp");
        };
        client.Connect();
        for (int i = 0; i < kMessages; ++i) {
            client.PostMessage.ToAddress = {kRecipient};
            client.SendMail();
        }
        client.Disconnect();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        g_clientRates.push_back(kMessages / seconds);
    }
    state.counters["msgs_per_s"] = benchmark::Counter(kMessages, benchmark::Counter::kIsRate);
}

void BM_MinimalBlockingClient(benchmark::State& state) {
    // The very bytes TSmtpClient sends: its own header and body of the same message.
    tessaly::TSmtpClient builder;
    fillMessage(builder.PostMessage);
    builder.PostMessage.ToAddress = {kRecipient};
    builder.BuildHeaderAndBody();
    builder.FinalHeader.SetHeaderValue("Content-Type", "text/plain; charset=iso-2022-jp");
    const std::string header = builder.FinalHeader.Text() + "\r\n\r\n";
    const std::string body = builder.BodyStream().toStdString();

    for (auto _ : state)
        g_minimalRates.push_back(bench::minimalClientRound(
            g_port, kMessages, builder.PostMessage.FromAddress, [](int) { return std::string(kRecipient); },
            header, body));
    state.counters["msgs_per_s"] = benchmark::Counter(kMessages, benchmark::Counter::kIsRate);
}


} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bench::SmtpSink sink;
    if (!sink.start())
        return 1;
    g_port = sink.port();

    // The two clients alternate round by round, so that both see the same machine load.
    const int rounds = qEnvironmentVariableIsSet("SMTP_BENCH_ROUNDS") ? qEnvironmentVariableIntValue("SMTP_BENCH_ROUNDS") : 7;
    for (int r = 1; r <= rounds; ++r) {
        const std::string round = "/round:" + std::to_string(r);
        benchmark::RegisterBenchmark(("TSmtpClient" + round).c_str(), BM_TSmtpClient)
            ->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("MinimalBlockingClient" + round).c_str(), BM_MinimalBlockingClient)
            ->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double client = bench::median(g_clientRates), minimal = bench::median(g_minimalRates);
    if (client > 0 && minimal > 0)
        std::printf("\nmedian messages per second: TSmtpClient %.0f, minimal blocking client %.0f (%.1f %%)\n", client,
                    minimal, 100.0 * client / minimal);
    return 0;
}
