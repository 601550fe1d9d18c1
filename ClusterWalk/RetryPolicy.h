// When a failed request is sent again, and after how long. Pure logic over a request's outcome:
// the caller sends, sleeps and logs; the clock and the random numbers are handed in so the
// decisions can be checked without waiting.
#pragma once

#include <functional>
#include <mutex>
#include <random>
#include <string>

#include "Cluster/ClusterConnection.h"
#include "ClusterWalk/ClusterWalkExport.h"

namespace clusterwalk {

// What a request does to the cluster, which decides whether repeating it is harmless.
enum class RequestKind {
    Get,     // reads only: always safe to repeat
    Login,   // a new session: repeating it only makes another one
    Post,    // may create or change something
    Delete,  // may remove something
};

struct RetryOptions {
    // The first retry waits up to this long; each further one up to twice the one before.
    double firstDelaySeconds = 0.5;
    // No single wait is longer, Retry-After included.
    double maxDelaySeconds = 30;
    // Attempts per request, the first one included.
    int maxAttempts = 6;
    // No retry starts later than this after the request's first attempt began.
    double requestBudgetSeconds = 180;

    // The process-wide retry budget, shared by every request of every connection: a bucket of
    // retries. It starts full, refills slowly with time and a little with each success, so a
    // flaky but working cluster keeps it topped up while a dead one drains it and the job
    // stops instead of hammering the cluster. 0 capacity: no process-wide limit.
    double budgetCapacity = 20;
    double budgetRefillPerSecond = 0.1;
    double budgetCreditPerSuccess = 0.1;
};

struct RetryDecision {
    bool retry = false;
    double delaySeconds = 0;  // the wait before the next attempt when retrying
    // One line for the log: "HTTP 503, retry 2 of 5 in 1.3 s", or why it stops.
    std::string reason;
};

// Seconds on a monotonic clock; only differences matter.
using NowFunction = std::function<double()>;
// A uniformly distributed number in [0, 1).
using UniformFunction = std::function<double()>;

CLUSTERWALK_API double SteadyNowSeconds();

// True when the outcome is a failure at all: a transfer error or a status outside 2xx.
CLUSTERWALK_API bool IsFailure(const Cluster::CRequestOutcome& outcome);
// True when the failure may pass by itself: nothing answered (refused, reset, timed out), the
// reply broke off, or HTTP 408, 429, 502, 503 or 504.
CLUSTERWALK_API bool IsTransient(const Cluster::CRequestOutcome& outcome);
// True when a request of this kind may be sent again after this outcome: reads and logins
// whenever the failure is transient, other requests only when they never reached the cluster.
CLUSTERWALK_API bool IsRetryable(RequestKind kind, const Cluster::CRequestOutcome& outcome);
// The failure in a few words: "HTTP 503", "could not connect (CURLcode 7)".
CLUSTERWALK_API std::string DescribeFailure(const Cluster::CRequestOutcome& outcome);
CLUSTERWALK_API const char* KindName(RequestKind kind);

// The process-wide bucket of retries. Thread-safe.
class CRetryBudget {
  public:
    // capacity 0: unlimited.
    CLUSTERWALK_API CRetryBudget(double capacity, double refillPerSecond, double creditPerSuccess,
                                 NowFunction now);
    // Takes one retry; false when fewer than one is left.
    CLUSTERWALK_API bool TryTake();
    CLUSTERWALK_API void CreditSuccess();
    CLUSTERWALK_API double Available();

  private:
    void RefillLocked();

    std::mutex m_mutex;
    const double m_capacity;
    const double m_refillPerSecond;
    const double m_creditPerSuccess;
    const NowFunction m_now;
    double m_tokens;
    double m_lastRefill;
};

// Shared by every connection of a job. Thread-safe.
class CRetryPolicy {
  public:
    // Without `uniform`, a generator seeded from std::random_device.
    CLUSTERWALK_API explicit CRetryPolicy(RetryOptions options = {},
                                          NowFunction now = SteadyNowSeconds,
                                          UniformFunction uniform = {});

    // After a failed attempt: whether to send the request again and when. `attempts` is the
    // number made so far (1 after the first), `elapsedSeconds` the time since the first
    // began. A retry takes one from the process-wide budget.
    CLUSTERWALK_API RetryDecision Next(RequestKind kind, const Cluster::CRequestOutcome& outcome,
                                       int attempts, double elapsedSeconds);

    // After a request succeeded: refills the process-wide budget a little.
    CLUSTERWALK_API void RecordSuccess();

    const RetryOptions& Options() const { return m_options; }
    CRetryBudget& Budget() { return m_budget; }

  private:
    double Uniform();

    const RetryOptions m_options;
    CRetryBudget m_budget;
    UniformFunction m_uniform;
    std::mutex m_randomMutex;
    std::mt19937_64 m_engine;
};

}  // namespace clusterwalk
