#include "bench/smtp/tls_sink.h"

#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <memory>

namespace bench {

namespace {

struct Session {
    QByteArray buffer;
    bool inData = false;
    bool encrypted = false;
    bool offerPipelining = false;
};

// Answers every complete command in the buffer; the data of a message ends with CR LF "." CR LF.
void serve(QSslSocket& socket, Session& session) {
    session.buffer += socket.readAll();
    // Bounded: every pass consumes a command or a message from the buffer, or stops.
    for (;;) {
        if (session.inData) {
            const qsizetype end = session.buffer.indexOf("\r\n.\r\n");
            if (end < 0)
                return;
            session.buffer.remove(0, end + 5);
            session.inData = false;
            socket.write("250 2.0.0 accepted\r\n");
            continue;
        }
        const qsizetype end = session.buffer.indexOf("\r\n");
        if (end < 0)
            break;
        const QByteArray verb = session.buffer.left(std::min<qsizetype>(end, 4)).toUpper();
        session.buffer.remove(0, end + 2);
        if (verb == "EHLO") {
            if (!session.encrypted)
                socket.write("250-sink\r\n250-STARTTLS\r\n250 HELP\r\n");
            else if (session.offerPipelining)
                socket.write("250-sink\r\n250-PIPELINING\r\n250-AUTH PLAIN LOGIN\r\n250 HELP\r\n");
            else
                socket.write("250-sink\r\n250-AUTH PLAIN LOGIN\r\n250 HELP\r\n");
        } else if (verb == "STAR") {
            socket.write("220 2.0.0 go ahead\r\n");
            socket.flush();
            session.buffer.clear();
            session.encrypted = true;
            socket.startServerEncryption();
            return;
        } else if (verb == "AUTH") {
            socket.write("235 2.7.0 accepted\r\n");
        } else if (verb == "DATA") {
            session.inData = true;
            socket.write("354 go ahead\r\n");
        } else if (verb == "QUIT") {
            socket.write("221 bye\r\n");
            socket.disconnectFromHost();
            return;
        } else {
            socket.write("250 ok\r\n");
        }
    }
    socket.flush();
}

class SinkServer : public QTcpServer {
public:
    SinkServer(const QByteArray& certificate, const QByteArray& key, bool offerPipelining)
        : m_certificate(certificate, QSsl::Pem), m_key(key, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey),
          m_offerPipelining(offerPipelining) {}

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setLocalCertificate(m_certificate);
        socket->setPrivateKey(m_key);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto session = std::make_shared<Session>();
        session->offerPipelining = m_offerPipelining;
        connect(socket, &QSslSocket::readyRead, socket, [socket, session] { serve(*socket, *session); });
        connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
        socket->write("220 sink ready\r\n");
        socket->flush();
    }

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
    bool m_offerPipelining;
};

} // namespace

TlsSink::TlsSink(QByteArray certificatePem, QByteArray keyPem, bool offerPipelining)
    : m_certificate(std::move(certificatePem)), m_key(std::move(keyPem)),
      m_offerPipelining(offerPipelining) {}

TlsSink::~TlsSink() {
    quit();
    wait();
}

quint16 TlsSink::listen() {
    start();
    // Bounded: the thread sets the port at once, to a number or to 0.
    while (m_port.load() < 0)
        QThread::msleep(5);
    return static_cast<quint16>(m_port.load());
}

void TlsSink::run() {
    SinkServer server(m_certificate, m_key, m_offerPipelining);
    m_port = server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
    if (m_port.load() != 0)
        exec();
}

} // namespace bench
