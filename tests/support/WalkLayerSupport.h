// What the tests of the walking layer share: retries that cost milliseconds, a simulated
// cluster holding one big directory, and counts read off the simulator's journal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ClusterSim.h"
#include "ClusterWalk/RetryPolicy.h"

namespace walk_test {

// Short waits, so faults cost milliseconds; no process-wide budget, so many faults never make
// one final (tests of that budget set their own).
inline clusterwalk::RetryOptions QuickRetries() {
    clusterwalk::RetryOptions options;
    options.firstDelaySeconds = 0.01;
    options.maxDelaySeconds = 0.05;
    options.maxAttempts = 8;
    options.requestBudgetSeconds = 10;
    options.budgetCapacity = 0;
    return options;
}

// Plain HTTP, no demo data: a directory "/big" of `files` files, `pageSize` to a page.
inline clustersim::Options BigDirectory(uint64_t files, unsigned pageSize) {
    clustersim::Options options;
    options.tls = false;
    options.seedDemo = false;
    options.seedFiles = files;
    options.defaultPageSize = pageSize;
    return options;
}

// Requests of `method` whose target starts with `prefix`.
inline size_t JournalCount(const clustersim::Simulator& sim, const std::string& method,
                           const std::string& prefix) {
    size_t requests = 0;
    for (const auto& entry : sim.Journal())
        requests += entry.method == method && entry.target.rfind(prefix, 0) == 0;
    return requests;
}

inline size_t Logins(const clustersim::Simulator& sim) {
    return JournalCount(sim, "POST", "/v1/session/login");
}

}  // namespace walk_test
