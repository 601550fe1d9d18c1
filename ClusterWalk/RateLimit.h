// How fast a job may send: at most N requests a second and M in flight, across every connection
// of the job. Each request holds a permit from just before it is sent until its reply is read.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "ClusterWalk/ClusterWalkExport.h"
#include "ClusterWalk/RetryPolicy.h"

namespace clusterwalk {

struct RateLimitOptions {
    double requestsPerSecond = 0;  // 0: unlimited
    int maxInFlight = 0;           // 0: unlimited
    // Requests that may start at once after a quiet spell; 0: one second's worth (at least 1).
    double burst = 0;
};

// Waits on `condition` with `lock` held for up to `seconds`, returning early when notified.
// Tests hand in one that moves a fake clock on instead.
using WaitFunction = std::function<void(std::unique_lock<std::mutex>& lock,
                                        std::condition_variable& condition, double seconds)>;

CLUSTERWALK_API void SteadyWait(std::unique_lock<std::mutex>& lock,
                                std::condition_variable& condition, double seconds);

// Thread-safe. Waiters are not served in order of arrival.
class CRateLimit {
  public:
    // Leave to send one request; releases its in-flight place when destroyed. Empty when the
    // acquisition was cancelled.
    class Permit {
      public:
        Permit() = default;
        CLUSTERWALK_API Permit(Permit&& other) noexcept;
        CLUSTERWALK_API Permit& operator=(Permit&& other) noexcept;
        Permit(const Permit&) = delete;
        Permit& operator=(const Permit&) = delete;
        CLUSTERWALK_API ~Permit();

        explicit operator bool() const { return m_limit != nullptr; }
        // Gives the in-flight place back before destruction.
        CLUSTERWALK_API void Release();

      private:
        friend class CRateLimit;
        explicit Permit(CRateLimit* limit) : m_limit(limit) {}
        CRateLimit* m_limit = nullptr;
    };

    CLUSTERWALK_API explicit CRateLimit(RateLimitOptions options = {},
                                        NowFunction now = SteadyNowSeconds,
                                        WaitFunction wait = SteadyWait);
    CRateLimit(const CRateLimit&) = delete;
    CRateLimit& operator=(const CRateLimit&) = delete;

    // Blocks until the request may go, or until `cancelled` returns true (checked at least
    // every `pollSeconds`, and at once after Interrupt()); then returns an empty permit.
    CLUSTERWALK_API Permit Acquire(const std::function<bool()>& cancelled = {});
    // Does not block: a permit when the request may go now; else an empty one, with
    // `waitSeconds` the time until a token is due (0 when only the in-flight limit holds it).
    CLUSTERWALK_API Permit TryAcquire(double& waitSeconds);
    // Wakes every waiter to look at its cancellation again.
    CLUSTERWALK_API void Interrupt();

    CLUSTERWALK_API int InFlight();
    const RateLimitOptions& Options() const { return m_options; }

    static constexpr double pollSeconds = 0.1;

  private:
    // True and the token and place taken when the request may go now.
    bool TakeLocked(double& waitSeconds);
    void ReleaseOne();

    const RateLimitOptions m_options;
    const double m_capacity;
    const NowFunction m_now;
    const WaitFunction m_wait;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    double m_tokens;
    double m_lastRefill;
    int m_inFlight = 0;
};

}  // namespace clusterwalk
