// What the SMTP benchmarks share: Postfix's smtp-sink on a free loopback port, the minimal client
// on blocking sockets that is the limit for any client waiting for each reply, and the median.
#pragma once

#include <QtGlobal>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// smtp-sink ($SMTP_SINK or /usr/sbin/smtp-sink) on 127.0.0.1 and a free port, started detached:
// the pipes of a watched child would sit in every poll of the client under test.
class SmtpSink {
public:
    SmtpSink() = default;
    ~SmtpSink();
    SmtpSink(const SmtpSink&) = delete;
    SmtpSink& operator=(const SmtpSink&) = delete;

    // False (with a message on stderr) when the sink could not be started.
    bool start();
    quint16 port() const { return port_; }

private:
    quint16 port_ = 0;
    qint64 pid_ = 0;
};

// Sends `messages` one-recipient messages over one connection: RSET, MAIL, RCPT, DATA, the header
// and body bytes as given, "." - waiting for each reply with one blocking recv, TCP_NODELAY on.
// Gives messages per second. Throws std::runtime_error on a refusal or a lost connection.
double minimalClientRound(quint16 port, int messages, const std::string& mailFrom,
                          const std::function<std::string(int)>& rcptTo, const std::string& header,
                          const std::string& body);

double median(std::vector<double> values);

} // namespace bench
