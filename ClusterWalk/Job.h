// What the connections of one job share: its settings, its retry policy, its rate limit, its
// counts and its cancellation. A job that walks over N connections makes one CJob and N
// sessions on it, so the cluster sees one rate and one retry budget however many connect.
//
//     auto job = std::make_shared<clusterwalk::CJob>(options);
//     clusterwalk::CResilientSession session(job, url, user, password);
//     ... from any thread: job->Cancel();
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ClusterWalk/ClusterWalkExport.h"
#include "ClusterWalk/RateLimit.h"
#include "ClusterWalk/RetryPolicy.h"
#include "platform/TNLibCurl.h"

namespace clusterwalk {

// Every setting of the layer, with its default. One attempt's own limits (connect, first
// byte, stall, total) stay the HTTP client's (TNLibCurl::Defaults).
struct JobOptions {
    RetryOptions retry;     // when a failed request is sent again, and the retry budgets
    RateLimitOptions rate;  // requests a second and in flight across the job; 0: unlimited
    // Whom the job's connections trust; null: the process's TNLibCurl::Defaults.
    std::shared_ptr<const TNLibCurl::Trust> trust;
};

struct JobStatistics {
    uint64_t attempts = 0;  // requests tried, logins and repeats included
    uint64_t retries = 0;   // attempts made again after a transient failure
    uint64_t relogins = 0;  // logins after the cluster refused an expired token
};

// What a job counted between two readings of its statistics.
inline JobStatistics operator-(const JobStatistics& after, const JobStatistics& before) {
    return {after.attempts - before.attempts, after.retries - before.retries,
            after.relogins - before.relogins};
}

// Thread-safe.
class CJob {
  public:
    CLUSTERWALK_API explicit CJob(JobOptions options = {});
    // A job over a policy and a limit made elsewhere (another clock, another random source).
    CLUSTERWALK_API CJob(std::shared_ptr<CRetryPolicy> policy, std::shared_ptr<CRateLimit> limit);
    CJob(const CJob&) = delete;
    CJob& operator=(const CJob&) = delete;

    // Stops the job for good: waits end, requests in flight are abandoned (within about
    // 50 ms), and every later request of its sessions fails with kCancelledError.
    CLUSTERWALK_API void Cancel();
    bool Cancelled() const { return m_cancelled->load(); }

    // Waits `seconds`; false when the job was cancelled first.
    CLUSTERWALK_API bool Sleep(double seconds);

    CRetryPolicy& Policy() { return *m_policy; }
    CRateLimit& Limit() { return *m_limit; }
    // Raised by Cancel; the sessions hand it to their connections.
    std::shared_ptr<const std::atomic<bool>> CancelFlag() const { return m_cancelled; }
    // JobOptions::trust; the sessions hand it to their connections.
    std::shared_ptr<const TNLibCurl::Trust> Trust() const { return m_trust; }

    CLUSTERWALK_API JobStatistics Statistics() const;
    void CountAttempt() { ++m_attempts; }
    void CountRetry() { ++m_retries; }
    void CountRelogin() { ++m_relogins; }

  private:
    const std::shared_ptr<CRetryPolicy> m_policy;
    const std::shared_ptr<CRateLimit> m_limit;
    const std::shared_ptr<std::atomic<bool>> m_cancelled;
    std::shared_ptr<const TNLibCurl::Trust> m_trust;
    std::mutex m_sleepMutex;
    std::condition_variable m_wake;
    std::atomic<uint64_t> m_attempts{0};
    std::atomic<uint64_t> m_retries{0};
    std::atomic<uint64_t> m_relogins{0};
};

}  // namespace clusterwalk
