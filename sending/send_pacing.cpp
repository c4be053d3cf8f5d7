#include "sending/send_pacing.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace tessaly {

using std::chrono::milliseconds;

SendPacing::SendPacing(int perMinute, int pauseEvery, milliseconds pauseLength, Clock clock)
    : perMinute_(std::max(0, perMinute)), pauseEvery_(std::max(0, pauseEvery)),
      pauseLength_(std::max(milliseconds(0), pauseLength)), clock_(std::move(clock)) {}

milliseconds SendPacing::spacing() const {
    // Rounded up: rounding down would let one message too many into some minute.
    return perMinute_ == 0 ? milliseconds(0) : milliseconds((60000 + perMinute_ - 1) / perMinute_);
}

std::chrono::steady_clock::time_point SendPacing::earliestNext() const {
    if (started_ == 0)
        return clock_();
    auto next = lastStart_ + spacing();
    if (pausingNext())
        next = std::max(next, lastFinish_ + pauseLength_);
    return next;
}

bool SendPacing::pausingNext() const {
    return pauseEvery_ > 0 && started_ > 0 && started_ % static_cast<std::size_t>(pauseEvery_) == 0;
}

milliseconds SendPacing::waitBeforeNext() const {
    // The first message never waits (reading the clock twice would make it wait for the time
    // between the two readings).
    if (started_ == 0)
        return milliseconds(0);
    const auto now = clock_();
    const auto next = earliestNext();
    return next <= now ? milliseconds(0) : std::chrono::ceil<milliseconds>(next - now);
}

void SendPacing::started() {
    lastStart_ = clock_();
    lastFinish_ = lastStart_;
    ++started_;
}

void SendPacing::finished() {
    lastFinish_ = clock_();
    busy_ += std::chrono::duration_cast<milliseconds>(lastFinish_ - lastStart_);
    ++finished_;
}

milliseconds SendPacing::estimateRemaining(std::size_t remaining) const {
    if (remaining == 0)
        return milliseconds(0);
    const milliseconds perMessage = std::max(
        spacing(), finished_ == 0 ? milliseconds(0) : busy_ / static_cast<long>(finished_));
    milliseconds total = waitBeforeNext() + perMessage * static_cast<long>(remaining);
    if (pauseEvery_ > 0) {
        // Pauses come after message numbers that are multiples of pauseEvery, never after the
        // last one; the one already due is in waitBeforeNext.
        const std::size_t k = static_cast<std::size_t>(pauseEvery_);
        const std::size_t pauses = (started_ + remaining - 1) / k - started_ / k;
        total += pauseLength_ * static_cast<long>(pauses);
    }
    return total;
}

RunWait::RunWait(QObject* parent) : QObject(parent) {}

bool RunWait::wait(milliseconds duration) {
    if (cancelled_)
        return false;
    if (duration <= milliseconds(0))
        return true;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(this, &RunWait::cancelled, &loop, &QEventLoop::quit);
    timer.start(duration);
    waiting_ = true;
    loop.exec();
    waiting_ = false;
    return !cancelled_;
}

void RunWait::cancel() {
    cancelled_ = true;
    emit cancelled();
}

} // namespace tessaly

#include "moc_send_pacing.cpp"
