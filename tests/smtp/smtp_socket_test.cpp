// The socket layer: writes, streams, line reads, host resolution, the error table.
#include "smtp_test_support.h"

#include <QAbstractSocket>
#include <QBuffer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest/QTest>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
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

// A listening socket on 127.0.0.1 and a free port, which `address` is set to; -1 on a failure.
int loopbackListener(int backlog, sockaddr_in& address) {
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(fd, backlog) == 0 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// A peer on a thread of its own: it takes one connection on 127.0.0.1 and a free port, hands it
// to `serve` and closes it.
class ThreadPeer {
public:
    explicit ThreadPeer(std::function<void(int)> serve) {
        sockaddr_in a{};
        m_listener = loopbackListener(1, a);
        if (m_listener < 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this, serve = std::move(serve)] {
            const int fd = ::accept(m_listener, nullptr, nullptr);
            if (fd < 0)
                return;
            serve(fd);
            ::close(fd);
        });
    }
    ~ThreadPeer() {
        join();
        if (m_listener >= 0)
            ::close(m_listener);
    }
    quint16 port() const { return m_port; }
    void join() {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

// A peer that takes what it is sent in bursts, as a busy server does: it sleeps while the
// system's buffers fill up, then empties them at once.
class BurstReader {
public:
    explicit BurstReader(std::size_t expected)
        : m_peer([this, expected](int fd) {
              std::vector<char> chunk(1 << 20);
              // Bounded: the client's time-out ends a stalled send long before the last burst.
              for (int burst = 0; burst < 2000 && m_received.size() < expected; ++burst) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(3));
                  for (;;) {
                      const ssize_t n = ::recv(fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
                      if (n <= 0)
                          break;
                      m_received.append(chunk.data(), static_cast<std::size_t>(n));
                  }
              }
          }) {}
    quint16 port() const { return m_peer.port(); }
    // Waits for the reader to end; what it received.
    const std::string& received() {
        m_peer.join();
        return m_received;
    }

private:
    std::string m_received; // before the peer, which writes it from its start on
    ThreadPeer m_peer;
};

TEST(SocketSend, AStreamGoesOnWhenThePeerEmptiesTheBuffersAtOnce) {
    // The socket may hand everything it holds to the system inside its own bytesWritten handler,
    // where no further bytesWritten comes: the send must go on by itself, not wait for one.
    QByteArray big(12 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 13 + (i >> 12));
    BurstReader peer(static_cast<std::size_t>(big.size()));
    ASSERT_NE(peer.port(), 0);
    TSmtpClient client;
    client.Host = "127.0.0.1";
    client.Port = peer.port();
    client.TimeOut = 3000;
    client.TSocketBase::Connect();
    QBuffer stream(&big);
    stream.open(QIODevice::ReadOnly);
    EXPECT_NO_THROW(client.SendStream(stream));
    EXPECT_EQ(client.BytesSent(), big.size());
    const std::string& received = peer.received();
    EXPECT_EQ(received.size(), static_cast<std::size_t>(big.size()));
    EXPECT_TRUE(received == big.toStdString());
}

// A server that answers every line at once, as a server on the same machine does, so that the
// client's waits take the replies the quick way: each reply is a multi-line one sent in two
// pieces, and after `replies` of them it closes the connection.
void answerAtOnce(int fd, int replies) {
    const int one = 1; // the second piece goes out at once, not after the first one's acknowledgement
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string pending;
    char chunk[4096];
    for (int answered = 0; answered < replies;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        pending.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t lf; answered < replies && (lf = pending.find('\n')) != std::string::npos;) {
            pending.erase(0, lf + 1);
            const std::string number = std::to_string(answered++);
            const std::string first = "250-line " + number + "\r\n25";
            const std::string rest = "0 end " + number + "\r\n";
            ::send(fd, first.data(), first.size(), MSG_NOSIGNAL);
            ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
        }
    }
}

TEST(SocketReplies, QuickRepliesInPiecesAndAClose) {
    constexpr int kReplies = 300;
    ThreadPeer peer([](int fd) { answerAtOnce(fd, kReplies); });
    ASSERT_NE(peer.port(), 0);
    TSmtpClient client;
    client.Host = "127.0.0.1";
    client.Port = peer.port();
    client.TimeOut = 3000;
    client.TSocketBase::Connect();
    for (int i = 0; i < kReplies; ++i) {
        client.Writeln("NOOP");
        const SmtpReply reply = client.ReadReply(SmtpStep::Other);
        const std::string number = std::to_string(i);
        ASSERT_EQ(reply.Text(), "250-line " + number + "\r\n250 end " + number + "\r\n");
    }
    // The close that follows the last quick reply is found, not waited out.
    QElapsedTimer took;
    took.start();
    EXPECT_ANY_THROW({
        client.Writeln("NOOP");
        client.ReadReply(SmtpStep::Other);
    });
    EXPECT_FALSE(client.Connected());
    EXPECT_LT(took.elapsed(), 2500);
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
        m_listener = loopbackListener(0, a);
        if (m_listener < 0)
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

// A peer that takes (almost) nothing of what it is sent, so that a large send stalls; with
// `dropOnData`, one that drops the connection at the first bytes instead.
class StallingPeer {
public:
    explicit StallingPeer(bool dropOnData) {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this, dropOnData] {
            QTcpSocket* accepted = m_server.nextPendingConnection();
            accepted->setReadBufferSize(1);
            if (dropOnData)
                QObject::connect(accepted, &QTcpSocket::readyRead, accepted, [accepted] { accepted->abort(); });
        });
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
};

void aim(TSmtpClient& client, quint16 port) {
    client.Host = "127.0.0.1";
    client.Port = port;
    client.UserID = "pc01";
}

void sendBig(TSmtpClient& client) {
    QByteArray big(64 * 1024 * 1024, 'x');
    QBuffer stream(&big);
    stream.open(QIODevice::ReadOnly);
    client.SendStream(stream);
    EXPECT_LT(client.BytesSent(), big.size());
}

// Cancels the wait that begins next, from inside it.
void stopSoon(TSmtpClient& client) {
    QTimer::singleShot(50, &client, [&client] { client.Cancel(); });
}

// Opens a connection to a scripted server that greets and then plays `then`, and reads the reply
// to NOOP.
void readReplyFrom(TSmtpClient& client, const std::function<void(SmtpScriptedServer&)>& then, bool stop = false) {
    SmtpScriptedServer server;
    server.greet().expect("NOOP");
    then(server);
    aim(client, server.port());
    client.Connect();
    if (stop)
        stopSoon(client);
    client.Transaction("NOOP");
}

void sendTo(TSmtpClient& client, bool dropOnData, bool stop = false) {
    StallingPeer peer(dropOnData);
    aim(client, peer.port());
    client.TSocketBase::Connect();
    if (stop)
        stopSoon(client);
    sendBig(client);
}

void connectToUnanswering(TSmtpClient& client, bool stop) {
    UnansweringPort peer;
    ASSERT_NE(peer.port(), 0);
    aim(client, peer.port());
    if (stop)
        stopSoon(client);
    client.Connect();
}

struct WaitEndCase {
    const char* name;
    std::function<void(TSmtpClient&)> wait;
    int timeOut;
    Raised raised;
    std::vector<std::string> texts; // the text begins with one of them
    bool timerFired = false;        // TimedOut: the time-out of lookup and connection
};

class WaitEnds : public ::testing::TestWithParam<WaitEndCase> {};

// Every wait ends: when its condition holds, on a stop, at its time-out, when the server closes
// the connection or when the connection fails; each end says which, and none leaves a
// connection behind that could be out of step.
TEST_P(WaitEnds, EveryWaitEndsAndSaysHow) {
    const WaitEndCase& c = GetParam();
    TSmtpClient client;
    client.TimeOut = c.timeOut;
    QElapsedTimer clock;
    clock.start();
    std::string text;
    EXPECT_EQ(raisedBy([&] { c.wait(client); }, text), c.raised) << text;
    if (c.raised != Raised::Nothing) {
        EXPECT_TRUE(std::any_of(c.texts.begin(), c.texts.end(), [&](const std::string& t) { return text.starts_with(t); }))
            << text;
        EXPECT_FALSE(client.Connected());
    }
    EXPECT_EQ(client.TimedOut(), c.timerFired);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_FALSE(client.Busy());
}

const auto kNoReply = [](SmtpScriptedServer& s) { s.hang(); };

INSTANTIATE_TEST_SUITE_P(
    Smtp, WaitEnds,
    ::testing::Values(
        WaitEndCase{"ReplyDone", [](TSmtpClient& c) { readReplyFrom(c, [](SmtpScriptedServer& s) { s.send("250 ok\r\n"); }); },
                    5000, Raised::Nothing, {}},
        WaitEndCase{"ReplyStopped", [](TSmtpClient& c) { readReplyFrom(c, kNoReply, true); }, 0, Raised::Abort,
                    {"Socket readln aborted"}},
        WaitEndCase{"ReplyTimedOut", [](TSmtpClient& c) { readReplyFrom(c, kNoReply); }, 200, Raised::Socket,
                    {TSocketBase::ReplyTimedOutText}},
        WaitEndCase{"ReplyClosed",
                    [](TSmtpClient& c) { readReplyFrom(c, [](SmtpScriptedServer& s) { s.send("250 par").close(); }); },
                    0, Raised::Socket, {TSocketBase::ClosedByPeerText}},
        WaitEndCase{"SendStopped", [](TSmtpClient& c) { sendTo(c, false, true); }, 0, Raised::Abort,
                    {"Socket send aborted"}},
        WaitEndCase{"SendTimedOut", [](TSmtpClient& c) { sendTo(c, false); }, 300, Raised::Socket,
                    {TSocketBase::SendTimedOutText}},
        // The peer's reset comes as its close or as a failed send (an error number), by timing.
        WaitEndCase{"SendClosedOrFailed", [](TSmtpClient& c) { sendTo(c, true); }, 0, Raised::Socket,
                    {TSocketBase::ClosedByPeerText, "100"}},
        WaitEndCase{"ConnectStopped", [](TSmtpClient& c) { connectToUnanswering(c, true); }, 0, Raised::Socket,
                    {"Connection Canceled"}},
        WaitEndCase{"ConnectTimedOut", [](TSmtpClient& c) { connectToUnanswering(c, false); }, 300, Raised::Socket,
                    {"Connection Timed out"}, true}),
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
