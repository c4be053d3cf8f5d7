// Messages per second over one connection to the same local aiosmtpd submission server: the plain
// exchange (HELO, no login) beside STARTTLS with AUTH PLAIN. The two run in alternating rounds;
// see README.md.
#include "bench/support/smtp_bench_support.h"
#include "smtp/smtp_client.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRecipients = 1000;
const char* const kLogin = "tessaly-user";
const char* const kPassword = "Tessaly-Test-Pa55word-7f3c"; // the fixture's test login
quint16 g_plainPort = 0, g_tlsPort = 0;
std::vector<double> g_plainRates, g_tlsRates;

// The server script of the tests, with neither recording nor storing.
class SubmissionServer {
public:
    bool start() {
        if (!m_dir.isValid())
            return false;
        if (run(QStringLiteral("start"), {QStringLiteral("--lifetime"), QStringLiteral("1800"),
                                          QStringLiteral("--submission"), QStringLiteral("--no-record")}) != 0)
            return false;
        QFile ports(m_dir.filePath(QStringLiteral("ports.json")));
        QFile ca(m_dir.filePath(QStringLiteral("certs/ca.pem")));
        if (!ports.open(QIODevice::ReadOnly) || !ca.open(QIODevice::ReadOnly))
            return false;
        const QJsonObject o = QJsonDocument::fromJson(ports.readAll()).object();
        g_plainPort = static_cast<quint16>(o.value(QStringLiteral("no_starttls")).toInt());
        g_tlsPort = static_cast<quint16>(o.value(QStringLiteral("starttls")).toInt());
        tessaly::TSocketBase::SetExtraCaCertificates(ca.readAll());
        return g_plainPort != 0 && g_tlsPort != 0;
    }
    ~SubmissionServer() { run(QStringLiteral("stop"), {}); }

private:
    int run(const QString& command, const QStringList& options) {
        const QString script = QStringLiteral(TESSALY_SOURCE_DIR "/tests/fixtures/smtp_real_server.py");
        return QProcess::execute(QStringLiteral("/usr/bin/python3"),
                                 QStringList{script, command, m_dir.path()} + options);
    }
    QTemporaryDir m_dir;
};

void sendRun(benchmark::State& state, bool tls, std::vector<double>& rates) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        tessaly::TSmtpClient client;
        client.Host = "localhost"; // the name in the server's certificate
        client.Port = tls ? g_tlsPort : g_plainPort;
        client.TimeOut = 30000;
        client.UserID = "pc01";
        if (tls) {
            client.Security = tessaly::TSecurity::StartTls;
            client.UseAuth = true;
            client.LoginName = kLogin;
            client.Password = kPassword;
        }
        client.PostMessage.FromAddress = "bench@tessaly.test";
        client.PostMessage.FromName = "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=";
        client.PostMessage.Subject = "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=";
        client.PostMessage.LocalProgram = "Tessaly27S";
        for (int i = 0; i < 16; ++i)
            client.PostMessage.Body.push_back("Line " + std::to_string(i) + " of the circular: " + std::string(43, 'x'));
        client.OnSendStart = [&client](QObject*) {
            client.FinalHeader.SetHeaderValue("Content-Type", "text/plain; charset=iso-2022-jp");
        };
        client.Connect();
        for (int i = 0; i < kRecipients; ++i) {
            client.PostMessage.ToAddress = {"member" + std::to_string(i) + "@example.jp"};
            client.SendMail();
        }
        client.Disconnect();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        rates.push_back(kRecipients / seconds);
    }
    state.counters["msgs_per_s"] = benchmark::Counter(kRecipients, benchmark::Counter::kIsRate);
}

void BM_Plain(benchmark::State& state) { sendRun(state, false, g_plainRates); }
void BM_StartTlsLogin(benchmark::State& state) { sendRun(state, true, g_tlsRates); }

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SubmissionServer server;
    if (!server.start()) {
        std::fprintf(stderr, "the submission server did not start\n");
        return 1;
    }
    // The two alternate round by round, so that both see the same machine load.
    const int rounds = qEnvironmentVariableIsSet("SMTP_BENCH_ROUNDS") ? qEnvironmentVariableIntValue("SMTP_BENCH_ROUNDS") : 5;
    for (int r = 1; r <= rounds; ++r) {
        const std::string round = "/round:" + std::to_string(r);
        benchmark::RegisterBenchmark(("Plain" + round).c_str(), BM_Plain)
            ->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("StartTlsLogin" + round).c_str(), BM_StartTlsLogin)
            ->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double plain = bench::median(g_plainRates), tls = bench::median(g_tlsRates);
    if (plain > 0 && tls > 0)
        std::printf("\nmedian messages per second: plain %.0f, STARTTLS with login %.0f (%.1f %%)\n", plain, tls,
                    100.0 * tls / plain);
    return 0;
}
