// How the end of `clusterctl changes` is told: one line on stderr (on a terminal, or whenever
// the feed ended early) and the whole account as JSON for --summary.
#pragma once

#include <string>

#include "ClusterWalk/ChangeFeed.h"

namespace clusterctl {

void ReportChanges(const clusterwalk::ChangeSummary& summary, double seconds, bool onTerminal);

// Throws Failure when the file cannot be written.
void WriteChangeSummaryFile(const std::string& path, const clusterwalk::ChangeSummary& summary,
                            double seconds);

}  // namespace clusterctl
