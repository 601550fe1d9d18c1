// `ls` (declared in Commands.h): one directory, page by page. `ls -R` walks the tree with the
// other walking commands (WalkCommands.cpp).
#include <list>
#include <string>

#include "ClusterWalk/ResilientSession.h"
#include "Commands.h"
#include "Records.h"

namespace clusterctl {

CZuError ListDirectory(CommandContext& context, const ListOptions& options) {
    if (options.recursive) return ListTree(context, options);
    const bool pathsOnly = PathsOnly(context.output, options.longFormat);
    Listing listing(context.out, context.output, EntryRow({}, context.output, options.longFormat),
                    !pathsOnly);
    auto pager =
        clusterwalk::DirectoryPager(context.session.Resilient(), options.path, options.snapshotId);
    clusterwalk::PageCount count;
    auto handle = [&](const std::list<Cluster::CDirectoryEntry>& entries) {
        for (const Cluster::CDirectoryEntry& entry : entries)
            listing.Add(EntryRow(entry, context.output, options.longFormat));
        context.progress.BeforeOutput();
        listing.Flush();
        context.progress.Update(count, context.session.Retries());
        return CZuError::Success();
    };
    CZuError error = clusterwalk::WalkPages(pager, handle, count);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    listing.Finish();
    return CZuError::Success();
}

}  // namespace clusterctl
