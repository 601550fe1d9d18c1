// What each command does, once the session is open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "Output.h"
#include "Progress.h"
#include "Session.h"

namespace clusterctl {

struct CommandContext {
    Session& session;
    OutputOptions output;
    ProgressLine& progress;
    std::ostream& out;
};

// How a walk of a whole tree runs (ls -R, find, du).
struct WalkCommandOptions {
    unsigned parallel = 16;
    std::string checkpoint;  // empty: none
    double checkpointSeconds = 10;
    bool resume = false;
    std::string summaryFile;  // empty: none
    std::string outputFile;   // empty: stdout
};

struct ListOptions {
    std::string path;
    int snapshotId = 0;  // 0: the live file system
    bool recursive = false;
    bool longFormat = false;
    WalkCommandOptions walk;  // with `recursive`
};

struct FindOptions {
    ListOptions list;
    size_t maxDepth = SIZE_MAX;
    // Whether an entry is written; empty: every one.
    std::function<bool(const Cluster::CDirectoryEntry&)> keep;
    std::string criteria;  // the options that chose `keep`, as a checkpoint tells walks apart
};

struct DiskUsageOptions {
    ListOptions list;
    size_t depth = SIZE_MAX;  // rows for directories at most this deep; -s: 0
};

// `changes OLDER NEWER`: the snapshots as named on the command line, resolved when run.
struct ChangesOptions {
    std::string older;
    std::string newer;
    bool pathsOnly = false;  // the feed without attributes: paths alone
    bool relative = false;   // paths below the snapshot's source directory
    std::string deletedTo;   // empty: deletions go with the rest
    WalkCommandOptions walk;
};

CZuError Login(CommandContext& context);

CZuError ListSnapshots(CommandContext& context);
// `source` is a path when it contains "/", otherwise a file id.
CZuError CreateSnapshot(CommandContext& context, const std::string& name, const std::string& source,
                        const std::string& expiration);
CZuError DeleteSnapshot(CommandContext& context, uint64_t snapshotId);
CZuError DiffSnapshots(CommandContext& context, uint64_t olderId, uint64_t newerId);
// Throws UsageError when the options ask --paths-only for a form with fields: checked before
// anything is sent.
void CheckChangesForm(const ChangesOptions& options, const OutputOptions& output);
CZuError ListChanges(CommandContext& context, const ChangesOptions& options);

CZuError ListDirectory(CommandContext& context, const ListOptions& options);
CZuError ListTree(CommandContext& context, const ListOptions& options);
CZuError FindEntries(CommandContext& context, const FindOptions& options);
CZuError DiskUsage(CommandContext& context, const DiskUsageOptions& options);
CZuError StatPath(CommandContext& context, const std::string& path);

CZuError ListSmbShares(CommandContext& context);
CZuError ShowSmbShare(CommandContext& context, uint64_t shareId);
CZuError ListNfsExports(CommandContext& context);
CZuError ShowNfsExport(CommandContext& context, uint64_t exportId);

}  // namespace clusterctl
