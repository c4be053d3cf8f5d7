// 200 messages over one connection to a minimal STARTTLS sink that offers PIPELINING, through a
// loopback proxy that holds every byte 10 ms in each direction: the envelope sent as one group
// and one command at a time, alternating round by round. Protection and a login make the client
// greet with EHLO, which is what lets it see PIPELINING; see README.md.
#include "bench/smtp/sink_certificates.h"
#include "bench/smtp/tls_sink.h"
#include "bench/support/delay_proxy.h"
#include "bench/support/smtp_bench_support.h"
#include "smtp/smtp_client.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kMessages = 200;
quint16 g_port = 0;
std::vector<double> g_groupedRates, g_singleRates;

void sendRun(benchmark::State& state, bool pipelining, std::vector<double>& rates) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        tessaly::TSmtpClient client;
        client.Host = "localhost"; // the name in the sink's certificate
        client.Port = g_port;
        client.TimeOut = 30000;
        client.UserID = "pc01";
        client.Security = tessaly::SmtpSecurity::StartTls;
        client.UseAuth = true;
        client.LoginName = "bench";
        client.Password = "bench";
        client.Pipelining = pipelining;
        client.PostMessage.FromAddress = "bench@tessaly.test";
        client.PostMessage.Subject = "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=";
        for (int i = 0; i < 16; ++i)
            client.PostMessage.Body.push_back("Line " + std::to_string(i) +
                                              " of the circular: " + std::string(43, 'x'));
        client.Connect();
        if (pipelining && !client.HasExtension("PIPELINING"))
            state.SkipWithError("the server does not offer PIPELINING");
        for (int i = 0; i < kMessages; ++i) {
            client.PostMessage.ToAddress = {"taro" + std::to_string(i) + "@example.jp"};
            client.SendMail();
        }
        client.Disconnect();
        rates.push_back(
            kMessages /
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["msgs_per_s"] = benchmark::Counter(kMessages, benchmark::Counter::kIsRate);
}

void BM_Grouped(benchmark::State& state) {
    sendRun(state, true, g_groupedRates);
}
void BM_OneAtATime(benchmark::State& state) {
    sendRun(state, false, g_singleRates);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bench::SinkCertificates certificates;
    if (!certificates.make()) {
        std::fprintf(stderr, "the sink's certificates could not be made\n");
        return 1;
    }
    tessaly::TSocketBase::SetExtraCaCertificates(certificates.ca);
    bench::TlsSink sink(certificates.certificate, certificates.key, true);
    const quint16 sinkPort = sink.listen();
    if (sinkPort == 0)
        return 1;
    bench::DelayProxy proxy(sinkPort, std::chrono::milliseconds(10));
    if (!proxy.start())
        return 1;
    g_port = proxy.port();

    const int rounds = qEnvironmentVariableIsSet("SMTP_BENCH_ROUNDS")
                           ? qEnvironmentVariableIntValue("SMTP_BENCH_ROUNDS")
                           : 3;
    for (int r = 1; r <= rounds; ++r) {
        const std::string round = "/round:" + std::to_string(r);
        benchmark::RegisterBenchmark(("Pipelining" + round).c_str(), BM_Grouped)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("OneCommandAtATime" + round).c_str(), BM_OneAtATime)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double grouped = bench::median(g_groupedRates), single = bench::median(g_singleRates);
    if (grouped > 0 && single > 0)
        std::printf(
            "\nmedian messages per second through 10 ms each way: pipelining %.1f, one command "
            "at a time %.1f (%.2fx)\n",
            grouped, single, grouped / single);
    return 0;
}
