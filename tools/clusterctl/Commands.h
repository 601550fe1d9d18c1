// What each command does, once the session is open.
#pragma once

#include <cstdint>
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

struct ListOptions {
    std::string path;
    int snapshotId = 0;  // 0: the live file system
    bool recursive = false;
    bool longFormat = false;
};

CZuError Login(CommandContext& context);

CZuError ListSnapshots(CommandContext& context);
// `source` is a path when it contains "/", otherwise a file id.
CZuError CreateSnapshot(CommandContext& context, const std::string& name, const std::string& source,
                        const std::string& expiration);
CZuError DeleteSnapshot(CommandContext& context, uint64_t snapshotId);
CZuError DiffSnapshots(CommandContext& context, uint64_t olderId, uint64_t newerId);

CZuError ListDirectory(CommandContext& context, const ListOptions& options);
CZuError StatPath(CommandContext& context, const std::string& path);

CZuError ListSmbShares(CommandContext& context);
CZuError ShowSmbShare(CommandContext& context, uint64_t shareId);
CZuError ListNfsExports(CommandContext& context);
CZuError ShowNfsExport(CommandContext& context, uint64_t exportId);

}  // namespace clusterctl
