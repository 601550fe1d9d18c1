// The fault plan: misbehaviour the simulator puts on chosen requests so clients can be tested
// against broken servers and networks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ClusterSim.h"
#include "HttpServer.h"

namespace clustersim {

// Waits that Stop cuts short, so a delayed or stalled answer never holds up shutdown.
class StopSignal {
  public:
    bool SleepFor(int milliseconds);  // false when cut short
    void Raise();
    void Reset();

  private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_raised = false;
};

class FaultPlan {
  public:
    void Add(const Fault& fault);
    void Clear();
    // The first fault that matches, with one use taken off it.
    std::optional<Fault> Take(const std::string& method, const std::string& target);

  private:
    std::mutex m_mutex;
    std::vector<Fault> m_faults;
};

// Puts `fault` on the answer. False when the request is then to be handled as usual (a delay).
// Only Respond uses the fault's status; the other answers claim 200 like a healthy server.
bool ApplyFault(const Fault& fault, httplib::Response& response, Exchange& exchange,
                StopSignal& stop);

// Turns the answer made in `response` into one that announces its whole body and sends half of
// it, then closes. An answer without a body is cut inside "{}", so that it is still cut.
void CutShort(httplib::Response& response);

// The body of a HugeBody fault: a listing page of exactly `size` bytes (all blanks when too small
// for one), made piece by piece as it is sent so it never sits in memory whole.
class HugeDocument {
  public:
    explicit HugeDocument(uint64_t size);
    void Fill(uint64_t offset, char* out, size_t length) const;

  private:
    std::string PieceAt(uint64_t offset, uint64_t* pieceStart) const;

    uint64_t m_size;
    uint64_t m_records;
};

}  // namespace clustersim
