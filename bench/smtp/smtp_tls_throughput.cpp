// Messages per second over one connection: the plain exchange (HELO, no login) beside STARTTLS
// with AUTH PLAIN, each to the same peer - a minimal TLS sink on its own thread, and the tests'
// aiosmtpd submission server. All four run in alternating rounds; see README.md.
#include "bench/smtp/sink_certificates.h"
#include "bench/smtp/tls_sink.h"
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
struct Peer {
    quint16 plainPort = 0;
    quint16 tlsPort = 0;
    std::vector<double> plainRates, tlsRates;
};
Peer g_sink, g_aiosmtpd;

QString scriptPath() { return QStringLiteral(TESSALY_SOURCE_DIR "/tests/fixtures/smtp_real_server.py"); }

using bench::readFile;
using bench::SinkCertificates;

// The server script of the tests, with neither recording nor storing.
class SubmissionServer {
public:
    // Fills g_aiosmtpd's ports; gives the PEM of the authority of its certificates ("" on failure).
    QByteArray start() {
        if (!m_dir.isValid() || run(QStringLiteral("start"), {QStringLiteral("--lifetime"), QStringLiteral("1800"),
                                                              QStringLiteral("--submission"), QStringLiteral("--no-record")}) != 0)
            return {};
        const QJsonObject o = QJsonDocument::fromJson(readFile(m_dir.filePath(QStringLiteral("ports.json")))).object();
        g_aiosmtpd.plainPort = static_cast<quint16>(o.value(QStringLiteral("no_starttls")).toInt());
        g_aiosmtpd.tlsPort = static_cast<quint16>(o.value(QStringLiteral("starttls")).toInt());
        return readFile(m_dir.filePath(QStringLiteral("certs/ca.pem")));
    }
    ~SubmissionServer() { run(QStringLiteral("stop"), {}); }

private:
    int run(const QString& command, const QStringList& options) {
        return QProcess::execute(QStringLiteral("/usr/bin/python3"), QStringList{scriptPath(), command, m_dir.path()} + options);
    }
    QTemporaryDir m_dir;
};


void sendRun(benchmark::State& state, const Peer& peer, bool tls, std::vector<double>& rates) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        tessaly::TSmtpClient client;
        client.Host = "localhost"; // the name in the server's certificate
        client.Port = tls ? peer.tlsPort : peer.plainPort;
        client.TimeOut = 30000;
        client.UserID = "pc01";
        if (tls) {
            client.Security = tessaly::SmtpSecurity::StartTls;
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

void BM_SinkPlain(benchmark::State& state) { sendRun(state, g_sink, false, g_sink.plainRates); }
void BM_SinkStartTlsLogin(benchmark::State& state) { sendRun(state, g_sink, true, g_sink.tlsRates); }
void BM_AiosmtpdPlain(benchmark::State& state) { sendRun(state, g_aiosmtpd, false, g_aiosmtpd.plainRates); }
void BM_AiosmtpdStartTlsLogin(benchmark::State& state) { sendRun(state, g_aiosmtpd, true, g_aiosmtpd.tlsRates); }

void report(const char* peer, const Peer& p) {
    const double plain = bench::median(p.plainRates), tls = bench::median(p.tlsRates);
    if (plain > 0 && tls > 0)
        std::printf("median messages per second to %s: plain %.0f, STARTTLS with login %.0f (%.1f %%)\n", peer, plain,
                    tls, 100.0 * tls / plain);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    SinkCertificates certificates;
    SubmissionServer server;
    const QByteArray aiosmtpdCa = server.start();
    if (!certificates.make() || aiosmtpdCa.isEmpty()) {
        std::fprintf(stderr, "the certificates or the submission server could not be made\n");
        return 1;
    }
    tessaly::TSocketBase::SetExtraCaCertificates(certificates.ca + aiosmtpdCa);
    bench::TlsSink sink(certificates.certificate, certificates.key);
    g_sink.plainPort = g_sink.tlsPort = sink.listen();
    if (g_sink.plainPort == 0)
        return 1;

    // All four alternate round by round, so that they see the same machine load.
    const int rounds = qEnvironmentVariableIsSet("SMTP_BENCH_ROUNDS") ? qEnvironmentVariableIntValue("SMTP_BENCH_ROUNDS") : 5;
    for (int r = 1; r <= rounds; ++r) {
        const std::string round = "/round:" + std::to_string(r);
        using Run = void (*)(benchmark::State&);
        const std::pair<std::string, Run> runs[] = {{"SinkPlain", BM_SinkPlain},
                                                    {"SinkStartTlsLogin", BM_SinkStartTlsLogin},
                                                    {"AiosmtpdPlain", BM_AiosmtpdPlain},
                                                    {"AiosmtpdStartTlsLogin", BM_AiosmtpdStartTlsLogin}};
        for (const auto& [name, function] : runs)
            benchmark::RegisterBenchmark((name + round).c_str(), function)
                ->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n");
    report("the sink", g_sink);
    report("aiosmtpd", g_aiosmtpd);
    return 0;
}
