// How a walk's end is told: one summary line on stderr (on a terminal, or whenever something
// was missed), a line for each directory that failed, vanished or looped (the first few), and
// the whole account as JSON for --summary, with the units that failed, so a later run can
// retry just those.
#pragma once

#include <string>

#include "ClusterWalk/TreeWalker.h"

namespace clusterctl {

void ReportWalk(const clusterwalk::WalkSummary& summary, double seconds, bool onTerminal);

// Throws Failure when the file cannot be written.
void WriteSummaryFile(const std::string& path, const clusterwalk::WalkSummary& summary,
                      double seconds);
// Any run's account, made elsewhere; throws Failure likewise.
void WriteSummaryText(const std::string& path, const std::string& json);

}  // namespace clusterctl
