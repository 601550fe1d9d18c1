#include "ClusterWalk/RetryPolicy.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace clusterwalk {

namespace {

// libcurl's CURLcodes, by value: the policy builds without curl.h, as the scripted client does.
constexpr int kCouldntConnect = 7;  // CURLE_COULDNT_CONNECT: refused or unreachable
constexpr int kPartialFile = 18;    // CURLE_PARTIAL_FILE: the body ended early
constexpr int kTimedOut = 28;       // CURLE_OPERATION_TIMEDOUT
constexpr int kGotNothing = 52;     // CURLE_GOT_NOTHING: closed without a reply
constexpr int kSendError = 55;      // CURLE_SEND_ERROR
constexpr int kReceiveError = 56;   // CURLE_RECV_ERROR: reset while reading
// Left out on purpose: a name that does not resolve and TLS failures are mostly settings that
// no retry mends, so failing at once tells the person sooner.

const char* TransportName(int code) {
    switch (code) {
        case kCouldntConnect:
            return "could not connect";
        case kPartialFile:
            return "reply cut short";
        case kTimedOut:
            return "timed out";
        case kGotNothing:
            return "empty reply";
        case kSendError:
            return "sending failed";
        case kReceiveError:
            return "receiving failed";
        default:
            return "transfer failed";
    }
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

}  // namespace

double SteadyNowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool IsFailure(const Cluster::CRequestOutcome& outcome) {
    return outcome.transportCode != 0 || outcome.httpStatus < 200 || outcome.httpStatus >= 300;
}

bool IsTransient(const Cluster::CRequestOutcome& outcome) {
    switch (outcome.transportCode) {
        case 0:
            break;
        case kCouldntConnect:
        case kPartialFile:
        case kTimedOut:
        case kGotNothing:
        case kSendError:
        case kReceiveError:
            return true;
        default:
            return false;
    }
    switch (outcome.httpStatus) {
        case 408:
        case 429:
        case 502:
        case 503:
        case 504:
            return true;
        default:
            return false;
    }
}

bool IsRetryable(RequestKind kind, const Cluster::CRequestOutcome& outcome) {
    if (!IsFailure(outcome) || !IsTransient(outcome)) return false;
    switch (kind) {
        case RequestKind::Get:
        case RequestKind::Login:
            return true;
        case RequestKind::Post:
        case RequestKind::Delete:
            // Once written, the cluster may have acted on it even without an answer, and
            // doing it twice is not harmless.
            return !outcome.sent;
    }
    return false;
}

std::string DescribeFailure(const Cluster::CRequestOutcome& outcome) {
    if (outcome.transportCode != 0) {
        return std::string(TransportName(outcome.transportCode)) + " (CURLcode " +
               std::to_string(outcome.transportCode) + ")";
    }
    if (outcome.httpStatus == 0) return "not sent";
    return "HTTP " + std::to_string(outcome.httpStatus);
}

const char* KindName(RequestKind kind) {
    switch (kind) {
        case RequestKind::Get:
            return "GET";
        case RequestKind::Login:
            return "login";
        case RequestKind::Post:
            return "POST";
        case RequestKind::Delete:
            return "DELETE";
    }
    return "request";
}

CRetryBudget::CRetryBudget(double capacity, double refillPerSecond, double creditPerSuccess,
                           NowFunction now)
    : m_capacity(capacity),
      m_refillPerSecond(refillPerSecond),
      m_creditPerSuccess(creditPerSuccess),
      m_now(std::move(now)),
      m_tokens(capacity),
      m_lastRefill(m_now()) {}

void CRetryBudget::RefillLocked() {
    const double now = m_now();
    // A clock that steps back must not drain the bucket.
    if (now > m_lastRefill) {
        m_tokens = std::min(m_capacity, m_tokens + (now - m_lastRefill) * m_refillPerSecond);
    }
    m_lastRefill = std::max(m_lastRefill, now);
}

bool CRetryBudget::TryTake() {
    if (m_capacity <= 0) return true;
    std::lock_guard<std::mutex> lock(m_mutex);
    RefillLocked();
    if (m_tokens < 1) return false;
    m_tokens -= 1;
    return true;
}

void CRetryBudget::CreditSuccess() {
    if (m_capacity <= 0) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    RefillLocked();
    m_tokens = std::min(m_capacity, m_tokens + m_creditPerSuccess);
}

double CRetryBudget::Available() {
    std::lock_guard<std::mutex> lock(m_mutex);
    RefillLocked();
    return m_tokens;
}

CRetryPolicy::CRetryPolicy(RetryOptions options, NowFunction now, UniformFunction uniform)
    : m_options(options),
      m_budget(options.budgetCapacity, options.budgetRefillPerSecond,
               options.budgetCreditPerSuccess, std::move(now)),
      m_uniform(std::move(uniform)),
      m_engine(std::random_device{}()) {}

double CRetryPolicy::Uniform() {
    std::lock_guard<std::mutex> lock(m_randomMutex);
    if (m_uniform) return m_uniform();
    return std::uniform_real_distribution<double>(0.0, 1.0)(m_engine);
}

RetryDecision CRetryPolicy::Next(RequestKind kind, const Cluster::CRequestOutcome& outcome,
                                 int attempts, double elapsedSeconds) {
    RetryDecision decision;
    if (!IsFailure(outcome)) {
        decision.reason = "no failure";
        return decision;
    }
    const std::string what = DescribeFailure(outcome);
    if (!IsRetryable(kind, outcome)) {
        decision.reason = what + ", not retried";
        if (IsTransient(outcome)) {
            decision.reason += std::string(": the ") + KindName(kind) +
                               " reached the cluster and may have taken effect";
        }
        return decision;
    }
    const int retries = std::max(1, m_options.maxAttempts - 1);
    if (attempts >= m_options.maxAttempts) {
        decision.reason = what + ", gave up after " + std::to_string(attempts) + " attempts";
        return decision;
    }
    const double remaining = m_options.requestBudgetSeconds - elapsedSeconds;
    if (remaining <= 0) {
        decision.reason = what + ", gave up after " + Seconds(elapsedSeconds);
        return decision;
    }

    // Full jitter: spreads the retries of many clients that failed together.
    const int exponent = std::clamp(attempts - 1, 0, 60);
    const double ceiling = std::min(m_options.maxDelaySeconds,
                                    m_options.firstDelaySeconds * std::ldexp(1.0, exponent));
    double delay = Uniform() * std::max(0.0, ceiling);
    if (outcome.retryAfterSeconds >= 0) {
        delay = std::max(delay, std::min(static_cast<double>(outcome.retryAfterSeconds),
                                         m_options.maxDelaySeconds));
    }
    delay = std::min(delay, remaining);

    if (!m_budget.TryTake()) {
        decision.reason = what + ", not retried: the process-wide retry budget is spent";
        return decision;
    }
    decision.retry = true;
    decision.delaySeconds = delay;
    decision.reason = what + ", retry " + std::to_string(attempts) + " of " +
                      std::to_string(retries) + " in " + Seconds(delay);
    return decision;
}

void CRetryPolicy::RecordSuccess() {
    m_budget.CreditSuccess();
}

}  // namespace clusterwalk
