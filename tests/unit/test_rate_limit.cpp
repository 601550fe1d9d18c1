#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ClusterWalk/RateLimit.h"

using clusterwalk::CRateLimit;
using clusterwalk::RateLimitOptions;

namespace {

// A clock that waiting moves on: a single thread sees time pass without sleeping.
struct FakeTime {
    double now = 50;
    double waited = 0;
    clusterwalk::NowFunction Now() {
        return [this] { return now; };
    }
    clusterwalk::WaitFunction Wait() {
        return [this](std::unique_lock<std::mutex>&, std::condition_variable&, double seconds) {
            now += seconds;
            waited += seconds;
        };
    }
};

RateLimitOptions Rate(double perSecond, int inFlight = 0) {
    RateLimitOptions options;
    options.requestsPerSecond = perSecond;
    options.maxInFlight = inFlight;
    return options;
}

}  // namespace

TEST(RateLimitTokens, AdmitsNPerSecondOnAFakeClock) {
    FakeTime time;
    CRateLimit limit(Rate(5), time.Now(), time.Wait());
    double wait = -1;
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(limit.TryAcquire(wait)) << i;
    EXPECT_FALSE(limit.TryAcquire(wait));
    EXPECT_NEAR(0.2, wait, 1e-9);
    time.now += 0.1;
    EXPECT_FALSE(limit.TryAcquire(wait));
    EXPECT_NEAR(0.1, wait, 1e-9);
    time.now += 0.1;
    EXPECT_TRUE(limit.TryAcquire(wait));
    // A quiet spell refills one second's worth, no more.
    time.now += 60;
    int admitted = 0;
    while (limit.TryAcquire(wait)) ++admitted;
    EXPECT_EQ(5, admitted);
}

TEST(RateLimitTokens, BlockingAcquireWaitsOutTheRate) {
    FakeTime time;
    CRateLimit limit(Rate(4), time.Now(), time.Wait());
    for (int i = 0; i < 24; ++i) {
        auto permit = limit.Acquire();
        ASSERT_TRUE(permit);
    }
    // 4 at once, the other 20 at 4 a second: 5 s of fake time.
    EXPECT_NEAR(5.0, time.waited, 1e-6);
}

TEST(RateLimitTokens, BurstAndUnlimited) {
    FakeTime time;
    RateLimitOptions options = Rate(2);
    options.burst = 10;
    CRateLimit burst(options, time.Now(), time.Wait());
    double wait = 0;
    int admitted = 0;
    while (burst.TryAcquire(wait)) ++admitted;
    EXPECT_EQ(10, admitted);

    CRateLimit unlimited(RateLimitOptions{}, time.Now(), time.Wait());
    std::vector<CRateLimit::Permit> held;
    for (int i = 0; i < 1000; ++i) {
        held.push_back(unlimited.TryAcquire(wait));
        ASSERT_TRUE(held.back());
    }
    EXPECT_EQ(1000, unlimited.InFlight());
    held.clear();
    EXPECT_EQ(0, unlimited.InFlight());
}

TEST(RateLimitInFlight, PermitsHoldAndReleasePlaces) {
    FakeTime time;
    CRateLimit limit(Rate(0, 2), time.Now(), time.Wait());
    double wait = -1;
    auto first = limit.TryAcquire(wait);
    auto second = limit.TryAcquire(wait);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_FALSE(limit.TryAcquire(wait));
    EXPECT_EQ(0, wait);  // no token to wait for: only a release helps
    // Moving a permit keeps one place, not two.
    CRateLimit::Permit moved = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(2, limit.InFlight());
    moved.Release();
    EXPECT_EQ(1, limit.InFlight());
    moved.Release();  // a second release gives nothing back twice
    EXPECT_EQ(1, limit.InFlight());
    EXPECT_TRUE(limit.TryAcquire(wait));  // and the temporary's place is back at once
    second = CRateLimit::Permit();
    EXPECT_EQ(0, limit.InFlight());
}

TEST(RateLimitInFlight, CapsInFlightAcrossThreads) {
    CRateLimit limit(Rate(0, 3));
    std::atomic<int> current{0};
    std::atomic<int> highest{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                auto permit = limit.Acquire();
                if (!permit) continue;
                const int now = ++current;
                int seen = highest.load();
                while (now > seen && !highest.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::yield();
                --current;
                ++done;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(400, done.load());
    EXPECT_LE(highest.load(), 3);
    EXPECT_GE(highest.load(), 1);
    EXPECT_EQ(0, limit.InFlight());
}

TEST(RateLimitCancel, CancelledBeforeWaitingGetsNoPermit) {
    FakeTime time;
    CRateLimit limit(Rate(1), time.Now(), time.Wait());
    auto permit = limit.Acquire([] { return true; });
    EXPECT_FALSE(permit);
    EXPECT_EQ(0, limit.InFlight());
}

TEST(RateLimitCancel, CancellingEndsATokenWait) {
    FakeTime time;
    CRateLimit limit(Rate(0.01), time.Now(), time.Wait());  // one request per 100 s
    ASSERT_TRUE(limit.Acquire());
    int checks = 0;
    // Cancelled after a few looks: the wait ends long before the 100 s a token needs.
    auto permit = limit.Acquire([&] { return ++checks > 3; });
    EXPECT_FALSE(permit);
    EXPECT_LT(time.waited, 1.0);
}

TEST(RateLimitCancel, InterruptWakesAWaiterForAPlace) {
    CRateLimit limit(Rate(0, 1));
    auto held = limit.Acquire();
    ASSERT_TRUE(held);
    std::atomic<bool> cancelled{false};
    std::atomic<bool> granted{true};
    std::thread waiter(
        [&] { granted = static_cast<bool>(limit.Acquire([&] { return cancelled.load(); })); });
    cancelled = true;
    limit.Interrupt();
    waiter.join();
    EXPECT_FALSE(granted.load());
    EXPECT_EQ(1, limit.InFlight());
}
