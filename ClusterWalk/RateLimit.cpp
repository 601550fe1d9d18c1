#include "ClusterWalk/RateLimit.h"

#include <algorithm>
#include <chrono>

namespace clusterwalk {

void SteadyWait(std::unique_lock<std::mutex>& lock, std::condition_variable& condition,
                double seconds) {
    condition.wait_for(lock, std::chrono::duration<double>(std::max(0.0, seconds)));
}

CRateLimit::Permit::Permit(Permit&& other) noexcept : m_limit(other.m_limit) {
    other.m_limit = nullptr;
}

CRateLimit::Permit& CRateLimit::Permit::operator=(Permit&& other) noexcept {
    if (this != &other) {
        Release();
        m_limit = other.m_limit;
        other.m_limit = nullptr;
    }
    return *this;
}

CRateLimit::Permit::~Permit() {
    Release();
}

void CRateLimit::Permit::Release() {
    if (m_limit != nullptr) m_limit->ReleaseOne();
    m_limit = nullptr;
}

CRateLimit::CRateLimit(RateLimitOptions options, NowFunction now, WaitFunction wait)
    : m_options(options),
      m_capacity(options.burst > 0 ? options.burst : std::max(1.0, options.requestsPerSecond)),
      m_now(std::move(now)),
      m_wait(std::move(wait)),
      m_tokens(m_capacity),
      m_lastRefill(m_now()) {}

bool CRateLimit::TakeLocked(double& waitSeconds) {
    waitSeconds = 0;
    const bool rateLimited = m_options.requestsPerSecond > 0;
    if (rateLimited) {
        const double now = m_now();
        if (now > m_lastRefill) {
            m_tokens =
                std::min(m_capacity, m_tokens + (now - m_lastRefill) * m_options.requestsPerSecond);
            m_lastRefill = now;
        }
    }
    const bool placeFree = m_options.maxInFlight <= 0 || m_inFlight < m_options.maxInFlight;
    const bool tokenDue = !rateLimited || m_tokens >= 1;
    if (placeFree && tokenDue) {
        if (rateLimited) m_tokens -= 1;
        ++m_inFlight;
        return true;
    }
    // Only a token's delay is known; a place comes free when someone is notified.
    if (!tokenDue) waitSeconds = (1 - m_tokens) / m_options.requestsPerSecond;
    return false;
}

CRateLimit::Permit CRateLimit::TryAcquire(double& waitSeconds) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return TakeLocked(waitSeconds) ? Permit(this) : Permit();
}

CRateLimit::Permit CRateLimit::Acquire(const std::function<bool()>& cancelled) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (cancelled && cancelled()) return Permit();
        double waitSeconds = 0;
        if (TakeLocked(waitSeconds)) return Permit(this);
        if (waitSeconds > 0) {
            m_wait(lock, m_changed, std::min(waitSeconds, pollSeconds));
        } else {
            // Waiting for a place: a release notifies, so only the clock-free wait is needed.
            m_changed.wait_for(lock, std::chrono::duration<double>(pollSeconds));
        }
    }
}

void CRateLimit::Interrupt() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changed.notify_all();
}

int CRateLimit::InFlight() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_inFlight;
}

void CRateLimit::ReleaseOne() {
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_inFlight;
    m_changed.notify_all();
}

}  // namespace clusterwalk
