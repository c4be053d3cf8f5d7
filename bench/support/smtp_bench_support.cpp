#include "bench/support/smtp_bench_support.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

namespace {

quint16 freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
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

class MinimalClient {
public:
    explicit MinimalClient(quint16 port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            throw std::runtime_error("connect failed");
        }
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        reply(true);
        command("HELO pc01", true);
    }
    ~MinimalClient() {
        try {
            command("QUIT", false);
        } catch (...) {
        }
        ::close(fd_);
    }
    void send(const std::string& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                throw std::runtime_error("send failed");
            done += static_cast<std::size_t>(n);
        }
    }
    int command(const std::string& line, bool multiLine) {
        send(line + "\r\n");
        return reply(multiLine);
    }

private:
    int reply(bool multiLine) {
        std::string line = readLine();
        while (multiLine && line.size() >= 4 && line[3] == '-')
            line = readLine();
        return std::atoi(line.c_str());
    }
    std::string readLine() {
        for (;;) {
            const std::size_t lf = buffer_.find('\n');
            if (lf != std::string::npos) {
                std::string line = buffer_.substr(0, lf + 1);
                buffer_.erase(0, lf + 1);
                return line;
            }
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                throw std::runtime_error("connection closed");
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    int fd_ = -1;
    std::string buffer_;
};

} // namespace

bool SmtpSink::start() {
    const QString sink = qEnvironmentVariableIsSet("SMTP_SINK") ? qEnvironmentVariable("SMTP_SINK")
                                                                 : QStringLiteral("/usr/sbin/smtp-sink");
    port_ = freePort();
    QStringList args;
    if (::geteuid() == 0)
        args << QStringLiteral("-u") << QStringLiteral("nobody"); // it refuses to keep root privileges
    args << QStringLiteral("127.0.0.1:%1").arg(port_) << QStringLiteral("256");
    if (QProcess::startDetached(sink, args, QString(), &pid_) && waitForListener(port_))
        return true;
    std::fprintf(stderr, "could not start %s (install postfix: bench/smtp/run.sh does)\n", qPrintable(sink));
    return false;
}

SmtpSink::~SmtpSink() {
    if (pid_ > 0)
        ::kill(static_cast<pid_t>(pid_), SIGTERM);
}

double minimalClientRound(quint16 port, int messages, const std::string& mailFrom,
                          const std::function<std::string(int)>& rcptTo, const std::string& header,
                          const std::string& body) {
    const auto start = std::chrono::steady_clock::now();
    {
        MinimalClient c(port);
        const std::string mailCommand = "MAIL FROM:<" + mailFrom + ">";
        for (int i = 0; i < messages; ++i) {
            if (c.command("RSET", false) >= 400 || c.command(mailCommand, false) >= 400 ||
                c.command("RCPT TO:<" + rcptTo(i) + ">", false) > 300 ||
                c.command("DATA", false) >= 400)
                throw std::runtime_error("refused");
            c.send(header);
            c.send(body);
            if (c.command(".", false) >= 400)
                throw std::runtime_error("refused");
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return messages / seconds;
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace bench
