#include "Realism.h"

#include <httplib.h>

#include <algorithm>
#include <climits>

#include "Render.h"

namespace clustersim {
namespace {

// Separate streams from one seed, so that turning latency on does not change the faults drawn.
enum Stream : uint32_t { kFaultStream = 1, kLatencyStream = 2 };

// std::seed_seq and mt19937_64 are fully specified, so a seed means the same on every platform.
std::mt19937_64 Generator(uint64_t seed, Stream stream) {
    std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32),
                           static_cast<uint32_t>(stream)};
    return std::mt19937_64(sequence);
}

}  // namespace

RandomFaults::RandomFaults(const FaultRates& rates, uint64_t seed)
    : m_rates(rates),
      m_any(rates.unavailable > 0 || rates.busy > 0 || rates.reset > 0 || rates.truncated > 0),
      m_generator(Generator(seed, kFaultStream)) {}

RandomFault RandomFaults::Draw() {
    if (!m_any) return RandomFault::None;
    uint64_t bits = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bits = m_generator();
    }
    // 53 random bits make a double in [0, 1) by hand, since the standard's distributions may
    // differ between libraries. A rate of 1 is then always met and a rate of 0 never.
    const double draw = static_cast<double>(bits >> 11) * 0x1.0p-53;
    double bound = m_rates.unavailable;
    if (draw < bound) return RandomFault::Unavailable;
    if (draw < (bound += m_rates.busy)) return RandomFault::Busy;
    if (draw < (bound += m_rates.reset)) return RandomFault::Reset;
    if (draw < (bound += m_rates.truncated)) return RandomFault::Truncated;
    return RandomFault::None;
}

Latency::Latency(unsigned baseMs, unsigned jitterMs, uint64_t seed)
    : m_baseMs(baseMs), m_jitterMs(jitterMs), m_generator(Generator(seed, kLatencyStream)) {}

void Latency::Wait(StopSignal& stop) {
    if (m_baseMs == 0 && m_jitterMs == 0) return;
    uint64_t wait = m_baseMs;
    if (m_jitterMs > 0) {
        std::lock_guard<std::mutex> lock(m_mutex);
        wait += m_generator() % (uint64_t{m_jitterMs} + 1);
    }
    stop.SleepFor(static_cast<int>(std::min<uint64_t>(wait, INT_MAX)));
}

Admission::Ticket Admission::Enter() {
    const unsigned inFlight = ++m_inFlight;
    if (m_limit > 0 && inFlight > m_limit) {
        --m_inFlight;
        return Ticket(nullptr);
    }
    return Ticket(&m_inFlight);
}

void ReplyRetryLater(httplib::Response& response, int status, const std::string& errorClass,
                     const std::string& description) {
    response.status = status;
    response.set_header("Retry-After", "1");
    response.set_content(RenderError(errorClass, description), "application/json");
}

}  // namespace clustersim
