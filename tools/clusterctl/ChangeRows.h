// What `clusterctl changes` makes of the change feed's records: their fields as `ls -l` names
// and formats them, paths relative to the snapshot's source directory, and the checks that
// keep a path list safe for the tools that read one (rsync --files-from, restic
// --files-from-raw).
#pragma once

#include <string>
#include <vector>

#include "ClusterWalk/ChangeFeed.h"
#include "Output.h"

namespace clusterctl {

// op, kind, then the entry's fields as Records.h gives them (type, mode, owner, group, size,
// id, times), the path last. A record without attributes has only op, kind, type and path:
// the others show empty (null in JSON), never as zeros. A default record gives every name.
Fields ChangeRecordFields(const clusterwalk::ChangeRecord& change, const OutputOptions& output);

// The directories that may hold `path`, nearest first: "/a/b/c" gives "/a/b/", "/a/", "/";
// a directory's own path ("/a/b/") comes first, since it may be the one sought.
std::vector<std::string> EnclosingDirectories(const std::string& path);

// `path` below `directory` (both absolute, the directory ending with "/"), without the leading
// "/"; a directory keeps its trailing "/" and the directory itself is "./". False when `path`
// does not lie under it.
bool RelativeTo(const std::string& directory, const std::string& path, std::string& relative);

// Whether a path can stand on a line of its own: no line end or other control byte, which
// a reader of lines would take apart or skip.
bool FitsOnLine(const std::string& path);

}  // namespace clusterctl
