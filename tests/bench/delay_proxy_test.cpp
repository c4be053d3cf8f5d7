#include "bench/support/delay_proxy.h"

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

using bench::loopback;

// A socket whose reads give up after five seconds, so that a broken proxy fails the test.
int bounded(int fd) {
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

std::string readAll(int fd) {
    std::string bytes;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(n));
    return bytes;
}

void sendAll(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        ASSERT_GT(n, 0);
        done += static_cast<std::size_t>(n);
    }
}

// The far end: accepts one connection, answers one line, then echoes everything back until the
// client has finished, and closes.
TEST(DelayProxy, PassesBytesBothWaysLateAndInOrderAndPassesTheEnd) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(0);
    socklen_t length = sizeof addr;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length), 0);

    std::string payload;
    for (int i = 0; payload.size() < 1'000'000; ++i)
        payload += "line " + std::to_string(i) + "\r\n";
    std::string serverGot;
    std::thread server([&] {
        const int peer = bounded(::accept(listener, nullptr, nullptr));
        sendAll(peer, "220 ready\r\n");
        serverGot = readAll(peer); // until the client's half-close arrives
        sendAll(peer, serverGot);
        ::close(peer);
    });

    {
        bench::DelayProxy proxy(ntohs(addr.sin_port), 10ms);
        ASSERT_TRUE(proxy.start());
        const int client = bounded(::socket(AF_INET, SOCK_STREAM, 0));
        const sockaddr_in via = loopback(proxy.port());
        const auto begin = std::chrono::steady_clock::now();
        ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&via), sizeof via), 0);
        char greeting[11] = {};
        ASSERT_EQ(::recv(client, greeting, sizeof greeting, MSG_WAITALL), 11);
        // The greeting crossed the proxy once: at least one delay, however fast the machine.
        EXPECT_GE(std::chrono::steady_clock::now() - begin, 10ms);
        EXPECT_EQ(std::string(greeting, 11), "220 ready\r\n");

        sendAll(client, payload);
        ::shutdown(client, SHUT_WR);
        EXPECT_EQ(readAll(client), payload); // ends because the server's close came through
        ::close(client);
    }
    server.join();
    ::close(listener);
    EXPECT_EQ(serverGot, payload);
}

} // namespace
