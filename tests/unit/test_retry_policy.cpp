#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "ClusterWalk/RetryPolicy.h"

using Cluster::CRequestOutcome;
using clusterwalk::CRetryBudget;
using clusterwalk::CRetryPolicy;
using clusterwalk::RequestKind;
using clusterwalk::RetryOptions;

namespace {

constexpr RequestKind kAllKinds[] = {RequestKind::Get, RequestKind::Login, RequestKind::Post,
                                     RequestKind::Delete};

CRequestOutcome Status(long status, long retryAfter = -1) {
    CRequestOutcome outcome;
    outcome.sent = true;
    outcome.httpStatus = status;
    outcome.retryAfterSeconds = retryAfter;
    return outcome;
}

CRequestOutcome Transport(int code, bool sent) {
    CRequestOutcome outcome;
    outcome.sent = sent;
    outcome.transportCode = code;
    outcome.transportText = "transfer error";
    return outcome;
}

// A clock the test moves by hand.
struct FakeClock {
    double now = 1000;
    clusterwalk::NowFunction Function() {
        return [this] { return now; };
    }
};

// Policy options without the process-wide budget, unless a test is about it.
RetryOptions NoBudget() {
    RetryOptions options;
    options.budgetCapacity = 0;
    return options;
}

}  // namespace

// --- Which outcomes are retried, per kind of request --------------------------------------

TEST(RetryClassification, TransientStatusesRetryForReadsAndLoginsOnly) {
    for (long status : {408L, 429L, 502L, 503L, 504L}) {
        const CRequestOutcome outcome = Status(status);
        EXPECT_TRUE(clusterwalk::IsTransient(outcome)) << status;
        EXPECT_TRUE(clusterwalk::IsRetryable(RequestKind::Get, outcome)) << status;
        EXPECT_TRUE(clusterwalk::IsRetryable(RequestKind::Login, outcome)) << status;
        // The reply proves the request arrived: a change is never repeated.
        EXPECT_FALSE(clusterwalk::IsRetryable(RequestKind::Post, outcome)) << status;
        EXPECT_FALSE(clusterwalk::IsRetryable(RequestKind::Delete, outcome)) << status;
    }
}

TEST(RetryClassification, PermanentStatusesAndSuccessAreNeverRetried) {
    for (long status : {200L, 204L, 301L, 400L, 401L, 403L, 404L, 409L, 500L, 501L, 505L}) {
        for (RequestKind kind : kAllKinds) {
            EXPECT_FALSE(clusterwalk::IsRetryable(kind, Status(status)))
                << status << " " << clusterwalk::KindName(kind);
        }
    }
    EXPECT_FALSE(clusterwalk::IsFailure(Status(200)));
    EXPECT_TRUE(clusterwalk::IsFailure(Status(503)));
}

TEST(RetryClassification, UnansweredRequestsRetryForEveryKindWhenNotSent) {
    // Refused, timed out before writing, reset while writing: nothing reached the cluster.
    for (int code : {7, 28, 55}) {
        for (RequestKind kind : kAllKinds) {
            EXPECT_TRUE(clusterwalk::IsRetryable(kind, Transport(code, false)))
                << code << " " << clusterwalk::KindName(kind);
        }
    }
}

TEST(RetryClassification, SentChangesAreNeverRetriedWhateverBrokeOff) {
    for (int code : {7, 18, 28, 52, 55, 56}) {
        const CRequestOutcome outcome = Transport(code, true);
        EXPECT_TRUE(clusterwalk::IsTransient(outcome)) << code;
        EXPECT_TRUE(clusterwalk::IsRetryable(RequestKind::Get, outcome)) << code;
        EXPECT_TRUE(clusterwalk::IsRetryable(RequestKind::Login, outcome)) << code;
        EXPECT_FALSE(clusterwalk::IsRetryable(RequestKind::Post, outcome)) << code;
        EXPECT_FALSE(clusterwalk::IsRetryable(RequestKind::Delete, outcome)) << code;
    }
}

TEST(RetryClassification, SettingsFailuresAndRefusedBeforeSendingStop) {
    // Unresolvable name, TLS handshake, bad certificate, out of memory: retrying mends none.
    for (int code : {6, 35, 60, 27}) {
        for (RequestKind kind : kAllKinds) {
            EXPECT_FALSE(clusterwalk::IsRetryable(kind, Transport(code, false))) << code;
        }
    }
    // Refused by the client itself (no login yet): every member at its initial value.
    const CRequestOutcome untouched;
    EXPECT_TRUE(clusterwalk::IsFailure(untouched));
    EXPECT_FALSE(clusterwalk::IsRetryable(RequestKind::Get, untouched));
}

TEST(RetryClassification, DescriptionsNameTheFailure) {
    EXPECT_EQ("HTTP 503", clusterwalk::DescribeFailure(Status(503)));
    EXPECT_EQ("could not connect (CURLcode 7)", clusterwalk::DescribeFailure(Transport(7, false)));
    EXPECT_EQ("transfer failed (CURLcode 35)", clusterwalk::DescribeFailure(Transport(35, false)));
}

// --- Decisions: delays, attempts, time budget -----------------------------------------------

TEST(RetryDecisions, DelaysStayWithinFullJitterBounds) {
    FakeClock clock;
    std::mt19937_64 engine(42);
    std::uniform_real_distribution<double> uniform(0, 1);
    RetryOptions options = NoBudget();
    options.maxAttempts = 20;
    CRetryPolicy policy(options, clock.Function(), [&] { return uniform(engine); });
    const double ceilings[] = {0.5, 1, 2, 4, 8, 16, 30, 30, 30};
    for (int attempts = 1; attempts <= 9; ++attempts) {
        double largest = 0;
        for (int sample = 0; sample < 200; ++sample) {
            const auto decision = policy.Next(RequestKind::Get, Status(503), attempts, 0);
            ASSERT_TRUE(decision.retry);
            EXPECT_GE(decision.delaySeconds, 0);
            EXPECT_LE(decision.delaySeconds, ceilings[attempts - 1]) << attempts;
            largest = std::max(largest, decision.delaySeconds);
        }
        // Jitter spans the range rather than sitting at its bottom.
        EXPECT_GT(largest, ceilings[attempts - 1] / 2) << attempts;
    }
}

TEST(RetryDecisions, ExtremesOfTheRandomNumberReachTheBounds) {
    FakeClock clock;
    double next = 0;
    CRetryPolicy policy(NoBudget(), clock.Function(), [&] { return next; });
    EXPECT_DOUBLE_EQ(0, policy.Next(RequestKind::Get, Status(502), 3, 0).delaySeconds);
    next = 0.999999;
    EXPECT_NEAR(2.0, policy.Next(RequestKind::Get, Status(502), 3, 0).delaySeconds, 1e-4);
}

TEST(RetryDecisions, RetryAfterIsHonouredButCapped) {
    FakeClock clock;
    CRetryPolicy policy(NoBudget(), clock.Function(), [] { return 0.0; });
    auto decision = policy.Next(RequestKind::Get, Status(429, 7), 1, 0);
    ASSERT_TRUE(decision.retry);
    EXPECT_DOUBLE_EQ(7, decision.delaySeconds);
    // Capped by the longest single wait.
    EXPECT_DOUBLE_EQ(30, policy.Next(RequestKind::Get, Status(503, 600), 1, 0).delaySeconds);
    // And by what is left of the request's time.
    EXPECT_DOUBLE_EQ(5, policy.Next(RequestKind::Get, Status(503, 20), 1, 175).delaySeconds);
    // Zero (a date already past) leaves the jittered delay.
    EXPECT_DOUBLE_EQ(0, policy.Next(RequestKind::Get, Status(503, 0), 1, 0).delaySeconds);
}

TEST(RetryDecisions, RetryAfterDoesNotShortenALongerJitter) {
    FakeClock clock;
    CRetryPolicy policy(NoBudget(), clock.Function(), [] { return 0.75; });
    // Attempt 5: up to 8 s, the random number picks 6 s; Retry-After 1 s must not cut it.
    EXPECT_DOUBLE_EQ(6, policy.Next(RequestKind::Get, Status(503, 1), 5, 0).delaySeconds);
}

TEST(RetryDecisions, AttemptsStopRetries) {
    FakeClock clock;
    CRetryPolicy policy(NoBudget(), clock.Function(), [] { return 0.5; });
    int attempts = 1;
    while (policy.Next(RequestKind::Get, Status(503), attempts, 0).retry) ++attempts;
    EXPECT_EQ(6, attempts);
    const auto last = policy.Next(RequestKind::Get, Status(503), 6, 0);
    EXPECT_EQ("HTTP 503, gave up after 6 attempts", last.reason);
}

TEST(RetryDecisions, TimeBudgetStopsRetries) {
    FakeClock clock;
    CRetryPolicy policy(NoBudget(), clock.Function(), [] { return 0.5; });
    EXPECT_TRUE(policy.Next(RequestKind::Get, Transport(28, true), 2, 179).retry);
    const auto decision = policy.Next(RequestKind::Get, Transport(28, true), 2, 180);
    EXPECT_FALSE(decision.retry);
    EXPECT_EQ("timed out (CURLcode 28), gave up after 180.0 s", decision.reason);
}

TEST(RetryDecisions, ReasonsReadAsLogLines) {
    FakeClock clock;
    CRetryPolicy policy(NoBudget(), clock.Function(), [] { return 0.65; });
    // Attempt 2: up to 1 s, the random number picks 0.65 s.
    EXPECT_EQ("HTTP 503, retry 2 of 5 in 0.7 s",
              policy.Next(RequestKind::Get, Status(503), 2, 0).reason);
    const auto post = policy.Next(RequestKind::Post, Transport(56, true), 1, 0);
    EXPECT_FALSE(post.retry);
    EXPECT_EQ(
        "receiving failed (CURLcode 56), not retried: the POST reached the cluster and may have "
        "taken effect",
        post.reason);
    EXPECT_EQ("HTTP 404, not retried", policy.Next(RequestKind::Get, Status(404), 1, 0).reason);
    EXPECT_FALSE(policy.Next(RequestKind::Get, Status(200), 1, 0).retry);
}

TEST(RetryDecisions, NothingIsTakenFromTheBudgetForAStop) {
    FakeClock clock;
    RetryOptions options;
    options.budgetCapacity = 2;
    options.budgetRefillPerSecond = 0;
    CRetryPolicy policy(options, clock.Function(), [] { return 0.0; });
    EXPECT_FALSE(policy.Next(RequestKind::Post, Status(503), 1, 0).retry);
    EXPECT_FALSE(policy.Next(RequestKind::Get, Status(503), 6, 0).retry);
    EXPECT_FALSE(policy.Next(RequestKind::Get, Status(503), 1, 200).retry);
    EXPECT_DOUBLE_EQ(2, policy.Budget().Available());
}

// --- The process-wide budget ---------------------------------------------------------------

TEST(RetryBudget, RefusedConnectionsFailARequestWithinAMinute) {
    FakeClock clock;
    const double start = clock.now;
    // The longest jitter every time: the slowest the defaults can be.
    CRetryPolicy policy(RetryOptions{}, clock.Function(), [] { return 1.0; });
    int attempts = 1;
    for (;; ++attempts) {
        const auto decision =
            policy.Next(RequestKind::Get, Transport(7, false), attempts, clock.now - start);
        if (!decision.retry) break;
        clock.now += decision.delaySeconds;
    }
    EXPECT_EQ(6, attempts);
    EXPECT_LT(clock.now - start, 60);
}

TEST(RetryBudget, StormOfFailingRequestsIsStopped) {
    FakeClock clock;
    CRetryPolicy policy(RetryOptions{}, clock.Function(), [] { return 0.5; });
    // A hundred requests in flight when the cluster goes away, each asking in every round.
    std::vector<int> attempts(100, 1);
    std::vector<bool> live(100, true);
    int granted = 0;
    int budgetStops = 0;
    for (int round = 0; round < 10; ++round) {
        for (size_t request = 0; request < attempts.size(); ++request) {
            if (!live[request]) continue;
            const auto decision =
                policy.Next(RequestKind::Get, Transport(56, true), attempts[request], round);
            if (decision.retry) {
                ++granted;
                ++attempts[request];
            } else {
                live[request] = false;
                if (decision.reason.find("retry budget is spent") != std::string::npos) {
                    ++budgetStops;
                }
            }
        }
        clock.now += 1;
    }
    // The default bucket of 20, with under one retry refilled in the few seconds: without it
    // there would be 500.
    EXPECT_EQ(20, granted);
    EXPECT_EQ(100, budgetStops);
}

TEST(RetryBudget, RefillsWithTimeAndSuccesses) {
    FakeClock clock;
    CRetryBudget budget(3, 0.5, 0.25, clock.Function());
    EXPECT_TRUE(budget.TryTake());
    EXPECT_TRUE(budget.TryTake());
    EXPECT_TRUE(budget.TryTake());
    EXPECT_FALSE(budget.TryTake());
    clock.now += 1;  // half a retry back
    EXPECT_FALSE(budget.TryTake());
    budget.CreditSuccess();
    budget.CreditSuccess();  // and two quarters
    EXPECT_TRUE(budget.TryTake());
    EXPECT_FALSE(budget.TryTake());
    // Never above its capacity, however long the pause.
    clock.now += 1000;
    EXPECT_DOUBLE_EQ(3, budget.Available());
    // A clock stepping back takes nothing away.
    clock.now -= 500;
    EXPECT_DOUBLE_EQ(3, budget.Available());
}

TEST(RetryBudget, ZeroCapacityIsUnlimited) {
    FakeClock clock;
    CRetryBudget budget(0, 0, 0, clock.Function());
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(budget.TryTake());
}

TEST(RetryBudget, SharedAcrossThreadsWithoutOverdrawing) {
    FakeClock clock;  // never moves: no refill while the threads run
    RetryOptions options;
    options.budgetCapacity = 50;
    CRetryPolicy policy(options, clock.Function(), [] { return 0.5; });
    std::atomic<int> granted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                if (policy.Next(RequestKind::Get, Status(503), 1, 0).retry) ++granted;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(50, granted.load());
}
