// Messages per second over one connection to Postfix's smtp-sink: TSmtpClient beside a minimal
// client on blocking sockets that sends the same bytes and waits for each reply the same way.
// The two run in alternating rounds; see README.md.
#include "smtp/smtp_client.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
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

// ------------------------------------------------------------ minimal blocking client

class MinimalClient {
public:
    explicit MinimalClient(quint16 port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("connect failed");
        int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reply(true);
        command("HELO pc01", true);
    }
    ~MinimalClient() {
        command("QUIT", false);
        ::close(m_fd);
    }
    void send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            done += static_cast<std::size_t>(n);
        }
    }
    int command(const std::string& line, bool multiLine) {
        send(line + "\r\n");
        return reply(multiLine);
    }
    int reply(bool multiLine) {
        std::string line = readLine();
        while (multiLine && line.size() >= 4 && line[3] == '-')
            line = readLine();
        return std::atoi(line.c_str());
    }

private:
    std::string readLine() {
        for (;;) {
            const std::size_t lf = m_buffer.find('\n');
            if (lf != std::string::npos) {
                std::string line = m_buffer.substr(0, lf + 1);
                m_buffer.erase(0, lf + 1);
                return line;
            }
            char chunk[4096];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                throw std::runtime_error("connection closed");
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    int m_fd = -1;
    std::string m_buffer;
};

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

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
    const std::string mailFrom = "MAIL FROM:<" + builder.PostMessage.FromAddress + ">";
    const std::string rcptTo = std::string("RCPT TO:<") + kRecipient + ">";

    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        {
            MinimalClient c(g_port);
            for (int i = 0; i < kMessages; ++i) {
                if (c.command("RSET", false) >= 400 || c.command(mailFrom, false) >= 400 ||
                    c.command(rcptTo, false) > 300 || c.command("DATA", false) >= 400)
                    throw std::runtime_error("refused");
                c.send(header);
                c.send(body);
                if (c.command(".", false) >= 400)
                    throw std::runtime_error("refused");
            }
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        g_minimalRates.push_back(kMessages / seconds);
    }
    state.counters["msgs_per_s"] = benchmark::Counter(kMessages, benchmark::Counter::kIsRate);
}


quint16 freePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool waitForListener(quint16 port) {
    for (int attempt = 0; attempt < 100; ++attempt) { // at most about 5 s
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        if (s.waitForConnected(200)) {
            s.waitForReadyRead(1000); // take the greeting, then leave
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString sink = qEnvironmentVariableIsSet("SMTP_SINK") ? qEnvironmentVariable("SMTP_SINK")
                                                                 : QStringLiteral("/usr/sbin/smtp-sink");
    g_port = freePort();
    QStringList args;
    if (::geteuid() == 0)
        args << QStringLiteral("-u") << QStringLiteral("nobody"); // it refuses to keep root privileges
    args << QStringLiteral("127.0.0.1:%1").arg(g_port) << QStringLiteral("256");
    // Detached: the pipes of a watched child would sit in every poll of the client under test.
    qint64 sinkPid = 0;
    if (!QProcess::startDetached(sink, args, QString(), &sinkPid) || !waitForListener(g_port)) {
        std::fprintf(stderr, "could not start %s (install postfix: bench/smtp/run.sh does)\n", qPrintable(sink));
        if (sinkPid > 0)
            ::kill(static_cast<pid_t>(sinkPid), SIGTERM);
        return 1;
    }

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

    ::kill(static_cast<pid_t>(sinkPid), SIGTERM);

    const double client = median(g_clientRates), minimal = median(g_minimalRates);
    if (client > 0 && minimal > 0)
        std::printf("\nmedian messages per second: TSmtpClient %.0f, minimal blocking client %.0f (%.1f %%)\n", client,
                    minimal, 100.0 * client / minimal);
    return 0;
}
