#include "Commands.h"

#include <list>

#include "PageWalker.h"
#include "Records.h"
#include "TerminalText.h"

namespace clusterctl {
namespace {

bool IsPath(const std::string& source) {
    return source.find('/') != std::string::npos;
}

CZuError ResolveFileId(CommandContext& context, const std::string& source, uint64_t& fileId) {
    if (!IsPath(source)) {
        fileId = std::stoull(source);
        return CZuError::Success();
    }
    Cluster::CFileAttributeInfo info;
    CZuError error = context.session.Files().GetFileAttributes(source, info, 0);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    fileId = info.id;
    return CZuError::Success();
}

template <class Record, class ToFields>
void PrintAll(CommandContext& context, const std::list<Record>& records, ToFields toFields) {
    Listing listing(context.out, context.output.format);
    for (const Record& record : records) listing.Add(toFields(record));
    listing.Flush();
}

}  // namespace

CZuError Login(CommandContext& context) {
    if (context.output.format == Format::Json) {
        PrintItem(context.out, Format::Json,
                  {TextField("url", context.session.Url()),
                   TextField("user", context.session.User()), BooleanField("logged_in", true)});
    } else {
        context.out << "Logged in to " << EscapeForTerminal(context.session.Url()) << " as "
                    << EscapeForTerminal(context.session.User()) << '\n';
    }
    return CZuError::Success();
}

CZuError ListSnapshots(CommandContext& context) {
    std::list<Cluster::CSnapshotInfo> snapshots;
    CZuError error = context.session.Snapshots().ListSnapshots(snapshots);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintAll(context, snapshots, SnapshotFields);
    return CZuError::Success();
}

CZuError CreateSnapshot(CommandContext& context, const std::string& name, const std::string& source,
                        const std::string& expiration) {
    uint64_t sourceId = 0;
    CZuError error = ResolveFileId(context, source, sourceId);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    Cluster::CSnapshotInfo snapshot;
    error = context.session.Snapshots().CreateSnapshot(name, sourceId, snapshot, expiration);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintItem(context.out, context.output.format, SnapshotFields(snapshot));
    return CZuError::Success();
}

CZuError DeleteSnapshot(CommandContext& context, uint64_t snapshotId) {
    CZuError error = context.session.Snapshots().DeleteSnapshot(snapshotId);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    if (context.output.format == Format::Json) {
        PrintItem(context.out, Format::Json,
                  {NumberField("id", snapshotId), BooleanField("deleted", true)});
    } else {
        context.out << "Deleted snapshot " << snapshotId << '\n';
    }
    return CZuError::Success();
}

CZuError DiffSnapshots(CommandContext& context, uint64_t olderId, uint64_t newerId) {
    Cluster::CSnapshotQueries snapshots = context.session.Snapshots();
    Listing listing(context.out, context.output.format);
    pagewalk::PageCount count;
    auto fetch = [&](const std::string& pageLink, std::list<Cluster::CSnapshotDiffInfo>& changes,
                     std::string& nextLink) {
        return snapshots.GetSnapshotDiff(olderId, newerId, changes, nextLink, pageLink);
    };
    auto handle = [&](const std::list<Cluster::CSnapshotDiffInfo>& changes) {
        for (const Cluster::CSnapshotDiffInfo& change : changes) listing.Add(ChangeFields(change));
        context.progress.BeforeOutput();
        listing.Flush();
        context.progress.Update(count);
        return CZuError::Success();
    };
    CZuError error = pagewalk::WalkPages<Cluster::CSnapshotDiffInfo>(fetch, handle, count);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    return CZuError::Success();
}

CZuError StatPath(CommandContext& context, const std::string& path) {
    Cluster::CFileAttributeInfo info;
    CZuError error = context.session.Files().GetFileAttributes(path, info, 0);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintItem(context.out, context.output.format,
              EntryFields(info, {ModeReading::OctalDigits, context.output.humanSizes}));
    return CZuError::Success();
}

CZuError ListSmbShares(CommandContext& context) {
    std::list<Cluster::CSMBShareEntry> shares;
    CZuError error = context.session.Shares().GetSMBShares(shares);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintAll(context, shares, SmbShareFields);
    return CZuError::Success();
}

CZuError ShowSmbShare(CommandContext& context, uint64_t shareId) {
    Cluster::CSMBShareEntry share;
    CZuError error = context.session.Shares().GetSMBShare(shareId, share);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintItem(context.out, context.output.format, SmbShareFields(share));
    return CZuError::Success();
}

CZuError ListNfsExports(CommandContext& context) {
    std::list<Cluster::CNFSExportEntry> nfsExports;
    CZuError error = context.session.Shares().GetNFSExports(nfsExports);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintAll(context, nfsExports, NfsExportFields);
    return CZuError::Success();
}

CZuError ShowNfsExport(CommandContext& context, uint64_t exportId) {
    Cluster::CNFSExportEntry nfsExport;
    CZuError error = context.session.Shares().GetNFSExport(exportId, nfsExport);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintItem(context.out, context.output.format, NfsExportFields(nfsExport));
    return CZuError::Success();
}

}  // namespace clusterctl
