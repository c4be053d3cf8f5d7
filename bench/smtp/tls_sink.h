// A minimal SMTP sink speaking STARTTLS, on its own thread: it accepts everything, stores nothing
// and costs little per message, so that a client's rates over plain text and over TLS can be set
// side by side (aiosmtpd's TLS costs it far more per message than the client).
#pragma once

#include <QByteArray>
#include <QThread>
#include <atomic>

namespace bench {

class TlsSink : public QThread {
public:
    // The server certificate and its key (PEM, an EC key) for STARTTLS; `offerPipelining` names
    // PIPELINING in the EHLO reply after STARTTLS (the sink reads grouped commands either way).
    TlsSink(QByteArray certificatePem, QByteArray keyPem, bool offerPipelining = false);
    ~TlsSink() override;
    TlsSink(const TlsSink&) = delete;
    TlsSink& operator=(const TlsSink&) = delete;

    // Starts listening on 127.0.0.1 and a free port; 0 when that failed.
    quint16 listen();

protected:
    void run() override;

private:
    QByteArray m_certificate;
    QByteArray m_key;
    bool m_offerPipelining;
    std::atomic<int> m_port{-1};
};

} // namespace bench
