// A loopback TCP proxy that holds every byte for a fixed time in each direction, as a line with
// that one-way latency would: a client that waits for each reply pays two delays per command,
// a client that sends commands in groups pays them once per group. Plain POSIX sockets and
// threads, so that it never competes with the Qt event loop of the program it measures.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <thread>
#include <vector>

namespace bench {

// 127.0.0.1:`port` as a socket address (port 0: any free port).
sockaddr_in loopback(std::uint16_t port);

class DelayProxy {
public:
    // Forwards to 127.0.0.1:`targetPort`, holding bytes `oneWay` in each direction.
    DelayProxy(std::uint16_t targetPort, std::chrono::milliseconds oneWay);
    ~DelayProxy(); // stops accepting and closes every connection
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // Listens on 127.0.0.1 and a free port; false (with a message on stderr) when it cannot.
    bool start();
    std::uint16_t port() const { return port_; }

    struct Pipe;
    struct Connection;

private:
    void acceptLoop();

    std::uint16_t targetPort_;
    std::chrono::milliseconds oneWay_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

} // namespace bench
