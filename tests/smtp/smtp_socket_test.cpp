// The socket layer: writes, streams, line reads, host resolution, the error table.
#include "smtp_test_support.h"

#include <QAbstractSocket>
#include <QBuffer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest/QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace tessaly;
using namespace tessaly::test;

namespace {

TEST_F(SmtpClientTest, WriteCutsAt16384BytesAndAtAZeroByte) {
    server.greet().hang();
    client.Connect();
    const std::string longText(20000, 'x');
    client.Write(longText);
    client.Write(std::string("ab\0cd", 5));
    client.Writeln("end");
    const QByteArray expected = "HELO pc01\r\n" + QByteArray(16384, 'x') + "ab" + "end\r\n";
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.received().size() >= expected.size(); }, 5000));
    EXPECT_EQ(server.received(), expected);
}

TEST_F(SmtpClientTest, SendStreamSendsAnySizeAndCounts) {
    server.greet().hang();
    client.Connect();
    QByteArray big(3 * 1024 * 1024 + 7, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    QBuffer stream(&big);
    stream.open(QIODevice::ReadOnly);
    stream.seek(100); // sent from its start all the same
    int packets = 0;
    client.OnPacketSent = [&](QObject*) { ++packets; };
    client.SendStream(stream);
    EXPECT_EQ(client.BytesTotal(), big.size());
    EXPECT_EQ(client.BytesSent(), big.size());
    EXPECT_GE(packets, 1);
    const int packetsOfTheStream = packets;
    client.Writeln("."); // counted on top of the stream, without a packet event
    EXPECT_EQ(client.BytesSent(), big.size() + 3);
    EXPECT_EQ(packets, packetsOfTheStream);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.received().size() >= big.size() + 14; }, 10000));
    EXPECT_EQ(server.received().mid(11), big + ".\r\n");
}

TEST_F(SmtpClientTest, ReadLnReturnsUpToTheLineFeedAndKeepsTheRest) {
    server.greet().expect("NOOP").sendPieces({"250 one\r\n25", "0 two\n250 three\r", "\n"});
    client.Connect();
    client.Writeln("NOOP");
    EXPECT_EQ(client.ReadLn(), "250 one\r\n");
    EXPECT_EQ(client.ReadLn(), "250 two\n");
    EXPECT_EQ(client.ReadLn(), "250 three\r\n");
    EXPECT_TRUE(server.played());
}

TEST_F(SmtpClientTest, DottedAddressNeedsNoLookupButANameDoes) {
    server.greet().quit().accept().greet().quit();
    int resolved = 0;
    client.OnHostResolved = [&](QObject*) { ++resolved; };
    client.Connect();
    client.Disconnect();
    EXPECT_EQ(resolved, 0);
    client.Host = "localhost";
    client.Connect();
    client.Disconnect();
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(client.RemoteAddress(), QHostAddress(QHostAddress::LocalHost));
    EXPECT_TRUE(server.played());
}

TEST_F(SmtpClientTest, PortOutsideTheRangeIsAFailedConnection) {
    int failed = 0;
    client.OnConnectionFailed = [&](QObject*) { ++failed; };
    for (int port : {0, 65536 + server.port()}) {
        client.Port = port;
        EXPECT_EQ(thrown<ESockError>([&] { client.Connect(); }), "Connection Failed");
    }
    EXPECT_EQ(failed, 2);
    EXPECT_EQ(server.connections(), 0);
}

// A loopback port that never completes a handshake: a listener whose accept queue is filled by
// connections nobody accepts, so that the system drops every further SYN.
class UnansweringPort {
public:
    UnansweringPort() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(m_listener, 0) != 0 || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        // The queue holds one or two connections, by kernel; stop at the first that stays pending.
        for (int i = 0; i < 4; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (fd < 0)
                return;
            m_fds.push_back(fd);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
                continue;
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 200) == 0) {
                m_port = ntohs(a.sin_port);
                return;
            }
        }
    }
    ~UnansweringPort() {
        for (int fd : m_fds)
            ::close(fd);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    std::vector<int> m_fds;
    quint16 m_port = 0;
};

TEST(SocketConnect, ServerThatNeverAnswersTimesOut) {
    UnansweringPort peer;
    ASSERT_NE(peer.port(), 0);
    TSmtpClient client;
    client.Host = "127.0.0.1";
    client.Port = peer.port();
    client.TimeOut = 300;
    int failed = 0;
    client.OnConnectionFailed = [&](QObject*) { ++failed; };
    EXPECT_EQ(thrown<ESockError>([&] { client.Connect(); }), "Connection Timed out");
    EXPECT_EQ(failed, 1);
    EXPECT_TRUE(client.TimedOut());
    EXPECT_FALSE(client.Connected());
    EXPECT_FALSE(client.Busy());
}

// A peer that stops reading, or drops the connection, while a large stream is being sent.
struct StalledSendCase {
    const char* name;
    bool dropAfterFirstBytes;
    int timeOut;
    std::string error;
};

class StalledSend : public ::testing::TestWithParam<StalledSendCase> {};

TEST_P(StalledSend, EndsTheSendWaitWithAnError) {
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
    QTcpSocket* accepted = nullptr;
    QObject::connect(&peer, &QTcpServer::newConnection, [&] {
        accepted = peer.nextPendingConnection();
        accepted->setReadBufferSize(1); // takes (almost) nothing: the client's send stalls
        if (GetParam().dropAfterFirstBytes)
            QObject::connect(accepted, &QTcpSocket::readyRead, accepted, [&] { accepted->abort(); });
    });
    TSocketBase socket;
    socket.Host = "127.0.0.1";
    socket.Port = peer.serverPort();
    socket.TimeOut = GetParam().timeOut;
    socket.Connect();
    QByteArray big(64 * 1024 * 1024, 'x');
    QBuffer stream(&big);
    stream.open(QIODevice::ReadOnly);
    const std::string error = thrown<ESockError>([&] { socket.SendStream(stream); });
    if (GetParam().dropAfterFirstBytes)
        EXPECT_TRUE(error == TSocketBase::ClosedByPeerText || error.starts_with("100")) << error;
    else
        EXPECT_EQ(error, GetParam().error);
    EXPECT_FALSE(socket.Connected());
    EXPECT_LT(socket.BytesSent(), big.size());
}

INSTANTIATE_TEST_SUITE_P(Smtp, StalledSend,
                         ::testing::Values(StalledSendCase{"PeerStopsReading", false, 300, TSocketBase::SendTimedOutText},
                                           StalledSendCase{"PeerDropsTheConnection", true, 0, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SocketErrors, TextsAndNumbers) {
    const std::pair<int, const char*> texts[] = {
        {0, ""},
        {10004, "10004:Interrupted system call"},
        {10035, "10035:Operation would block"},
        {10061, "10061:Connection refused"},
        {10093, "10093:Successful WSAStartup not yet performed"},
        {11004, "11004:Valid name, no data record of requested type"},
        {10072, "Unknown Error No. 10072"},
        {-1, "Unknown Error No. -1"},
    };
    for (const auto& [number, text] : texts)
        EXPECT_EQ(ErrorText(number), text);

    const std::pair<QAbstractSocket::SocketError, int> numbers[] = {
        {QAbstractSocket::ConnectionRefusedError, 10061}, {QAbstractSocket::HostNotFoundError, 11001},
        {QAbstractSocket::SocketTimeoutError, 10060},     {QAbstractSocket::RemoteHostClosedError, 10054},
        {QAbstractSocket::NetworkError, 10050},           {QAbstractSocket::UnknownSocketError, -1},
    };
    for (const auto& [error, number] : numbers)
        EXPECT_EQ(SocketErrorNumber(error), number) << error;
}

} // namespace
