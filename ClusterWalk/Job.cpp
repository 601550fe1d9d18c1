#include "ClusterWalk/Job.h"

#include <chrono>
#include <utility>

namespace clusterwalk {

CJob::CJob(JobOptions options)
    : CJob(std::make_shared<CRetryPolicy>(options.retry),
           std::make_shared<CRateLimit>(options.rate)) {
    m_trust = std::move(options.trust);
}

CJob::CJob(std::shared_ptr<CRetryPolicy> policy, std::shared_ptr<CRateLimit> limit)
    : m_policy(policy ? std::move(policy) : std::make_shared<CRetryPolicy>()),
      m_limit(limit ? std::move(limit) : std::make_shared<CRateLimit>()),
      m_cancelled(std::make_shared<std::atomic<bool>>(false)) {}

void CJob::Cancel() {
    {
        // Under the mutex, so a sleeper between its check and its wait cannot miss the wake.
        std::lock_guard<std::mutex> lock(m_sleepMutex);
        *m_cancelled = true;
    }
    m_wake.notify_all();
    m_limit->Interrupt();
}

bool CJob::Sleep(double seconds) {
    std::unique_lock<std::mutex> lock(m_sleepMutex);
    return !m_wake.wait_for(lock, std::chrono::duration<double>(seconds),
                            [this] { return m_cancelled->load(); });
}

JobStatistics CJob::Statistics() const {
    JobStatistics statistics;
    statistics.attempts = m_attempts.load();
    statistics.retries = m_retries.load();
    statistics.relogins = m_relogins.load();
    return statistics;
}

}  // namespace clusterwalk
