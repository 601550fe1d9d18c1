// What clusterctl says on stderr besides progress: one line per failure that a person can act
// on, the exit status that goes with it, and with -v the library's own account.
#pragma once

#include <string>

#include "Cluster/ClusterConnection.h"
#include "platform/ZuUtils.h"

namespace clusterctl {

// Quiet by default: the library's own log and event lines would break the one-line error.
// Verbose: the library's request log (it masks secrets itself) goes to stderr, escaped.
void SetUpDiagnostics(bool verbose);

struct FailureScene {
    std::string command;  // "ls /nonexistent": the words that name what was asked
    std::string url;
    std::string user;
    bool duringLogin = false;
    bool verbose = false;  // adds the library's message and its code-location trail
};

// Writes the line (and the verbose detail) and returns the exit status: not found, rejected
// credentials and an unreachable cluster each have their own (ExitStatus.h).
int ReportFailure(const CZuError& error, const Cluster::CRequestOutcome& outcome,
                  const FailureScene& scene);

// "clusterctl: TEXT", escaped.
void ReportLine(const std::string& text);

}  // namespace clusterctl
