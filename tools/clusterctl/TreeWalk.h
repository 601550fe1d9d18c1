// The walks of a whole tree (find, du, ls -R): the walker over --parallel connections inside
// a resumable run (ResumableRun.h); the summary (--summary); and the exit statuses: 7 when part
// of the walk failed, 130 and 143 after saving a final checkpoint when interrupted or
// terminated.
#pragma once

#include <cstddef>
#include <list>
#include <string>

#include "ClusterWalk/WalkUnit.h"
#include "Commands.h"
#include "ResumableRun.h"
#include "WalkOutput.h"

namespace clusterctl {

// What a command makes of the entries, a page at a time.
class WalkConsumer : public ResumableState {
  public:
    // One call at a time. May throw OutputError.
    virtual void Take(std::list<Cluster::CDirectoryEntry>& entries) = 0;
    // After the walk: `complete` false when part of it failed or it was stopped.
    virtual void Finish(bool complete) = 0;
};

// Walks from `path` (of the snapshot `snapshotId`, 0: live), entries at most `maxDepth` below
// it, handing them to `consumer`. `command` names what is walked and how ("find /a --name
// x"); with the output's form, it is what a checkpoint resumes only the same walk of. Throws
// Failure for the statuses above and UsageError for a checkpoint that does not fit.
CZuError RunTreeWalk(CommandContext& context, const WalkCommandOptions& options,
                     const std::string& command, const std::string& path, int snapshotId,
                     size_t maxDepth, WalkConsumer& consumer, WalkOutput& output);

}  // namespace clusterctl
