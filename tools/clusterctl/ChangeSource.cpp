#include "ChangeSource.h"

#include <list>

#include "ChangeRows.h"
#include "ExitStatus.h"
#include "Failure.h"

namespace clusterctl {
namespace {

// The first change of the difference, read straight from its first page; empty when there is
// none.
CZuError FirstChange(CommandContext& context, uint64_t older, uint64_t newer, std::string& path) {
    Cluster::CSnapshotQueries snapshots = context.session.Snapshots();
    std::list<Cluster::CSnapshotDiffInfo> changes;
    std::string next;
    CZuError error = context.session.Run(clusterwalk::RequestKind::Get, [&] {
        changes.clear();
        return snapshots.GetSnapshotDiff(older, newer, changes, next, "");
    });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    path = changes.empty() ? "" : changes.front().path;
    return CZuError::Success();
}

CZuError SourceFileId(CommandContext& context, uint64_t snapshotId, uint64_t& fileId) {
    Cluster::CSnapshotQueries snapshots = context.session.Snapshots();
    std::list<Cluster::CSnapshotInfo> list;
    CZuError error = context.session.Run(clusterwalk::RequestKind::Get, [&] {
        list.clear();
        return snapshots.ListSnapshots(list);
    });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    for (const Cluster::CSnapshotInfo& snapshot : list) {
        if (snapshot.id == snapshotId) {
            fileId = snapshot.sourceFileId;
            return CZuError::Success();
        }
    }
    throw Failure(kExitNotFound, "snapshot " + std::to_string(snapshotId) + " is gone");
}

}  // namespace

CZuError FindSourceDirectory(CommandContext& context, uint64_t older, uint64_t newer,
                             std::string& directory) {
    std::string first;
    CZuError error = FirstChange(context, older, newer, first);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    if (first.empty()) return CZuError::Success();
    uint64_t sourceId = 0;
    error = SourceFileId(context, newer, sourceId);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    Cluster::CFileSystemQueries files = context.session.Files();
    for (const std::string& candidate : EnclosingDirectories(first)) {
        const std::string asked =
            candidate.size() > 1 ? candidate.substr(0, candidate.size() - 1) : candidate;
        Cluster::CFileAttributeInfo info;
        error = context.session.Run(clusterwalk::RequestKind::Get,
                                    [&] { return files.GetFileAttributes(asked, info, 0); });
        if (error.IsError() && context.session.LastOutcome().httpStatus == 404) continue;
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        if (info.id == sourceId) {
            directory = candidate;
            return CZuError::Success();
        }
    }
    throw Failure(kExitNotFound, "--relative: no live directory above " + first +
                                     " has the file id " + std::to_string(sourceId) +
                                     " of the snapshot's source: it may have been moved or "
                                     "deleted since");
}

}  // namespace clusterctl
