#include "bench/support/delay_proxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

using Clock = std::chrono::steady_clock;

// One direction: a reader that stamps each chunk with the time it may leave, and a writer that
// sends it then. An end of input travels as an empty chunk and becomes a half-close.
struct DelayProxy::Pipe {
    int from = -1;
    int to = -1;
    std::chrono::milliseconds delay{0};
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::pair<Clock::time_point, std::string>> chunks;
    bool stopped = false;
    std::thread reader, writer;

    void start() {
        reader = std::thread([this] { readLoop(); });
        writer = std::thread([this] { writeLoop(); });
    }

    void push(std::string bytes) {
        const std::lock_guard lock(mutex);
        chunks.emplace_back(Clock::now() + delay, std::move(bytes));
        ready.notify_one();
    }

    void readLoop() {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            push(std::string(buffer, static_cast<std::size_t>(n)));
        }
        push({});
    }

    void writeLoop() {
        for (;;) {
            std::unique_lock lock(mutex);
            ready.wait(lock, [this] { return stopped || !chunks.empty(); });
            if (stopped)
                return;
            const Clock::time_point due = chunks.front().first;
            if (ready.wait_until(lock, due, [this] { return stopped; }))
                return;
            std::string bytes = std::move(chunks.front().second);
            chunks.pop_front();
            lock.unlock();
            if (bytes.empty()) {
                ::shutdown(to, SHUT_WR);
                return;
            }
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t n =
                    ::send(to, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return;
                done += static_cast<std::size_t>(n);
            }
        }
    }

    void stop() {
        {
            const std::lock_guard lock(mutex);
            stopped = true;
            ready.notify_all();
        }
        if (reader.joinable())
            reader.join();
        if (writer.joinable())
            writer.join();
    }
};

struct DelayProxy::Connection {
    int client = -1;
    int server = -1;
    Pipe up, down;

    ~Connection() {
        // Wakes the readers, then ends both directions.
        ::shutdown(client, SHUT_RDWR);
        ::shutdown(server, SHUT_RDWR);
        up.stop();
        down.stop();
        ::close(client);
        ::close(server);
    }
};

namespace {

void noDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

DelayProxy::DelayProxy(std::uint16_t targetPort, std::chrono::milliseconds oneWay)
    : targetPort_(targetPort), oneWay_(oneWay) {}

DelayProxy::~DelayProxy() {
    stopping_ = true;
    if (listenFd_ >= 0)
        ::shutdown(listenFd_, SHUT_RDWR); // ends the blocked accept()
    if (acceptor_.joinable())
        acceptor_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    const std::lock_guard lock(mutex_);
    connections_.clear();
}

bool DelayProxy::start() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t length = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        std::fprintf(stderr, "delay proxy: cannot listen: %s\n", std::strerror(errno));
        return false;
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
    return true;
}

void DelayProxy::acceptLoop() {
    while (!stopping_) {
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in target = loopback(targetPort_);
        if (server < 0 ||
            ::connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
            std::fprintf(stderr, "delay proxy: cannot reach port %u: %s\n", targetPort_,
                         std::strerror(errno));
            ::close(client);
            if (server >= 0)
                ::close(server);
            continue;
        }
        noDelay(client);
        noDelay(server);
        auto connection = std::make_unique<Connection>();
        connection->client = client;
        connection->server = server;
        connection->up.from = client;
        connection->up.to = server;
        connection->up.delay = oneWay_;
        connection->down.from = server;
        connection->down.to = client;
        connection->down.delay = oneWay_;
        connection->up.start();
        connection->down.start();
        const std::lock_guard lock(mutex_);
        connections_.push_back(std::move(connection));
    }
}

} // namespace bench
