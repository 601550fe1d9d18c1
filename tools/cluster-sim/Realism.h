// The everyday faults of a real cluster, put on requests at random or under load: busy answers,
// dropped connections, cut answers, a limit on requests in flight and a slow network.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>

#include "ClusterSim.h"
#include "Faults.h"

namespace httplib {
struct Response;
}  // namespace httplib

namespace clustersim {

enum class RandomFault { None, Unavailable, Busy, Reset, Truncated };

// One draw per request from a seeded generator: the fault sequence depends only on the seed and
// the order of the requests that draw.
class RandomFaults {
  public:
    RandomFaults(const FaultRates& rates, uint64_t seed);
    RandomFault Draw();

  private:
    FaultRates m_rates;
    bool m_any;  // without any rate no draw is needed
    std::mutex m_mutex;
    std::mt19937_64 m_generator;
};

// Holds each request for a base time plus a seeded random part.
class Latency {
  public:
    Latency(unsigned baseMs, unsigned jitterMs, uint64_t seed);
    void Wait(StopSignal& stop);

  private:
    unsigned m_baseMs;
    unsigned m_jitterMs;
    std::mutex m_mutex;
    std::mt19937_64 m_generator;
};

// Counts the requests being handled and turns away those above the limit (0: none is).
class Admission {
  public:
    class Ticket {
      public:
        explicit Ticket(std::atomic<unsigned>* inFlight) : m_inFlight(inFlight) {}
        ~Ticket() {
            if (m_inFlight) --*m_inFlight;
        }
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        explicit operator bool() const { return m_inFlight != nullptr; }

      private:
        std::atomic<unsigned>* m_inFlight;
    };

    explicit Admission(unsigned limit) : m_limit(limit) {}
    // Held while the request is handled; false when the request is turned away.
    Ticket Enter();

  private:
    unsigned m_limit;
    std::atomic<unsigned> m_inFlight{0};
};

// 503 or 429 with "Retry-After: 1" and a JSON error body, as a cluster under strain answers.
void ReplyRetryLater(httplib::Response& response, int status, const std::string& errorClass,
                     const std::string& description);

}  // namespace clustersim
