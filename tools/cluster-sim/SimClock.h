// Time as the simulated cluster reports it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace clustersim {

// Wall-clock nanoseconds that never repeat nor go back, so every change gets a later time than
// the one before it even when both fall within the same clock tick.
class SimClock {
  public:
    int64_t Tick();
    int64_t Last() const { return m_last.load(); }
    // Never earlier than `last` from now on, e.g. the last time of a saved run.
    void Restore(int64_t last);

  private:
    std::atomic<int64_t> m_last{0};
};

// RFC 3339 in UTC with nanoseconds, e.g. "2026-12-08T15:37:33.123456789Z".
std::string TimeText(int64_t nanoseconds);

}  // namespace clustersim
