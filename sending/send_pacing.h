// How fast a send run may go: at most so many messages a minute, and a pause after every so many
// messages, as providers that count messages per minute want it. The decisions are plain
// arithmetic over an injectable clock; RunWait does the waiting without blocking the window.
#pragma once

#include <QObject>

#include <chrono>
#include <cstddef>
#include <functional>

namespace tessaly {

class SendPacing {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // `perMinute` 0: no limit. `pauseEvery` 0: no pause.
    SendPacing(
        int perMinute, int pauseEvery, std::chrono::milliseconds pauseLength,
        Clock clock = [] { return std::chrono::steady_clock::now(); });

    // How long the next message must wait before it may start; zero when it may start now. The
    // starts are spread evenly, so that no minute, wherever it begins, holds more than the limit.
    std::chrono::milliseconds waitBeforeNext() const;
    // True when messages may have to wait for one another at all.
    bool paced() const { return perMinute_ > 0 || pauseEvery_ > 0; }
    // True when that wait is the pause after a block of messages (not only the spacing).
    bool pausingNext() const;
    // A message (a retry too: the server counts it) starts now; its answer came.
    void started();
    void finished();

    // Estimated time from now until the last of `remaining` messages is sent, from the limit,
    // the pauses and the time the messages sent so far took.
    std::chrono::milliseconds estimateRemaining(std::size_t remaining) const;

private:
    std::chrono::milliseconds spacing() const;
    std::chrono::steady_clock::time_point earliestNext() const;

    int perMinute_;
    int pauseEvery_;
    std::chrono::milliseconds pauseLength_;
    Clock clock_;
    std::size_t started_ = 0;
    std::size_t finished_ = 0;
    std::chrono::steady_clock::time_point lastStart_{};
    std::chrono::steady_clock::time_point lastFinish_{};
    std::chrono::milliseconds busy_{0}; // sum of start-to-answer times
};

// A wait that keeps the window alive (a nested event loop, like the SMTP client's waits) and that
// the stop button ends at once.
class RunWait : public QObject {
    Q_OBJECT
public:
    explicit RunWait(QObject* parent = nullptr);
    // Waits `duration`; false when cancel() ended it, or had been called before.
    bool wait(std::chrono::milliseconds duration);
    // Ends the wait in progress, and every later one until reset().
    void cancel();
    void reset() { cancelled_ = false; }
    bool waiting() const { return waiting_; }

signals:
    void cancelled();

private:
    bool cancelled_ = false;
    bool waiting_ = false;
};

} // namespace tessaly
