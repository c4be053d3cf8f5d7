#include "sending/retry_policy.h"
#include "sending/send_pacing.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include <deque>
#include <vector>

using namespace tessaly;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

TEST(RetryPolicy, DecidesAfterEveryKindOfResult) {
    using R = MessageResult;
    using S = RunStep;
    struct Row {
        const char* name;
        bool skip, retry;
        int tries;
        std::vector<R> results;
        std::vector<S> steps;
        std::vector<milliseconds> waits; // of the Retry steps, in order
    };
    const std::vector<Row> rows = {
        {"defaults: a refused recipient stops",
         false,
         false,
         3,
         {R::Accepted, R::RecipientRefused},
         {S::Next, S::Stop},
         {}},
        {"skipping refused recipients",
         true,
         false,
         3,
         {R::RecipientRefused, R::Accepted, R::RecipientRefused},
         {S::Skip, S::Next, S::Skip},
         {}},
        {"a refused message stops even when skipping", true, true, 3, {R::Refused}, {S::Stop}, {}},
        {"no retry: a temporary failure stops", false, false, 3, {R::Temporary}, {S::Stop}, {}},
        {"30, 60, 120 s, then stop",
         false,
         true,
         3,
         {R::Temporary, R::ConnectionLost, R::Temporary, R::Temporary},
         {S::Retry, S::Retry, S::Retry, S::Stop},
         {30s, 60s, 120s}},
        {"the count starts again for the next recipient",
         false,
         true,
         2,
         {R::Temporary, R::Temporary, R::Accepted, R::Temporary, R::Accepted},
         {S::Retry, S::Retry, S::Next, S::Retry, S::Next},
         {30s, 60s, 30s}},
        {"more tries than waits: 120 s from the third on",
         false,
         true,
         5,
         {R::Temporary, R::Temporary, R::Temporary, R::Temporary, R::Temporary, R::Temporary},
         {S::Retry, S::Retry, S::Retry, S::Retry, S::Retry, S::Stop},
         {30s, 60s, 120s, 120s, 120s}},
        {"no answer after the data is never sent again",
         true,
         true,
         3,
         {R::NoAnswer},
         {S::StopUncertain},
         {}},
        // 4xx to "." is a refusal of the message, not an unknown.
        {"4xx to the data retried", false, true, 1,
         {R::TemporaryAfterData, R::TemporaryAfterData}, {S::Retry, S::Stop}, {30s}},
        {"4xx to the data without retry stops", true, false, 3,
         {R::TemporaryAfterData}, {S::Stop}, {}},
    };
    for (const Row& row : rows) {
        RetryPolicy policy(row.skip, row.retry, row.tries);
        std::vector<S> steps;
        std::vector<milliseconds> waits;
        for (const R result : row.results) {
            const RunDecision d = policy.decide(result);
            steps.push_back(d.step);
            if (d.step == S::Retry)
                waits.push_back(d.wait);
        }
        EXPECT_EQ(steps, row.steps) << row.name;
        EXPECT_EQ(waits, row.waits) << row.name;
    }
    // The test hook: shorter waits, same shape.
    RetryPolicy quick(false, true, 3, 10ms);
    EXPECT_EQ(quick.decide(MessageResult::Temporary).wait, 10ms);
    EXPECT_EQ(quick.decide(MessageResult::Temporary).wait, 20ms);
}

class FakeClock {
public:
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    SendPacing::Clock clock() {
        return [this] { return now; };
    }
};

// Sends `count` messages of `each` through the pacing as the run would and gives their starts.
std::vector<milliseconds> paceRun(SendPacing& pacing, FakeClock& clock, int count,
                                  milliseconds each) {
    std::vector<milliseconds> starts;
    const auto origin = clock.now;
    for (int i = 0; i < count; ++i) {
        clock.now += pacing.waitBeforeNext();
        pacing.started();
        starts.push_back(std::chrono::duration_cast<milliseconds>(clock.now - origin));
        clock.now += each;
        pacing.finished();
    }
    return starts;
}

TEST(SendPacing, SixtyAMinuteHoldsInEveryMinute) {
    FakeClock clock;
    SendPacing pacing(60, 0, 0ms, clock.clock());
    const std::vector<milliseconds> starts = paceRun(pacing, clock, 150, 200ms);
    // No window of one minute, wherever it starts, holds more than 60 starts...
    std::deque<milliseconds> window;
    for (const milliseconds start : starts) {
        while (!window.empty() && start - window.front() >= 60s)
            window.pop_front();
        window.push_back(start);
        ASSERT_LE(window.size(), 60u) << "at " << start.count() << " ms";
    }
    // ...and the run is not slower than the limit makes it.
    EXPECT_EQ(starts.back(), 149s);

    // Without a limit nothing waits; a slow server sets the pace by itself.
    FakeClock free;
    SendPacing unlimited(0, 0, 0ms, free.clock());
    EXPECT_EQ(paceRun(unlimited, free, 3, 5s), (std::vector<milliseconds>{0s, 5s, 10s}));
}

TEST(SendPacing, PausesAfterEveryBlockAndEstimatesTheEnd) {
    FakeClock clock;
    SendPacing pacing(0, 10, 30s, clock.clock());
    const std::vector<milliseconds> starts = paceRun(pacing, clock, 25, 1s);
    // Message 11 starts 30 s after message 10 was answered; 21 after 20.
    EXPECT_EQ(starts[9], 9s);
    EXPECT_EQ(starts[10], 10s + 30s);
    EXPECT_EQ(starts[11], 41s);
    EXPECT_EQ(starts[20], 50s + 30s);

    // After 20 messages with the pause due: 30 s now, 100 messages of 1 s, and pauses after
    // 30, 40, ..., 110 (none after the last, the 120th).
    FakeClock c2;
    SendPacing estimate(0, 10, 30s, c2.clock());
    paceRun(estimate, c2, 20, 1s);
    EXPECT_TRUE(estimate.pausingNext());
    EXPECT_EQ(estimate.estimateRemaining(100), 30s + 100s + 9 * 30s);
    EXPECT_EQ(estimate.estimateRemaining(0), 0s);

    // The limit, not the quick server, sets the estimate.
    FakeClock c3;
    SendPacing limited(30, 0, 0ms, c3.clock());
    paceRun(limited, c3, 5, 100ms);
    EXPECT_EQ(limited.estimateRemaining(10), limited.waitBeforeNext() + 10 * 2s);
}

TEST(RunWait, KeepsEventsGoingAndTheStopEndsItAtOnce) {
    RunWait wait;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    EXPECT_TRUE(wait.wait(60ms));
    EXPECT_GT(ticks, 0); // the window's events were handled during the wait

    // The stop button during a long pause: the wait ends as soon as the click is handled.
    QTimer::singleShot(20, &wait, [&] { wait.cancel(); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(wait.wait(std::chrono::minutes(10)));
    EXPECT_LT(elapsed.elapsed(), 60000);
    EXPECT_FALSE(wait.waiting());
    // Once stopped, later waits end at once too, until the next run.
    EXPECT_FALSE(wait.wait(std::chrono::minutes(10)));
    wait.reset();
    EXPECT_TRUE(wait.wait(0ms));
}

} // namespace
