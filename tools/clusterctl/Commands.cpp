#include "Commands.h"

#include <rapidjson/document.h>

#include <list>

#include "ClusterWalk/Pager.h"
#include "ClusterWalk/ResilientSession.h"
#include "Records.h"
#include "TerminalText.h"

namespace clusterctl {
namespace {

using clusterwalk::RequestKind;

bool IsPath(const std::string& source) {
    return source.find('/') != std::string::npos;
}

CZuError ResolveFileId(CommandContext& context, const std::string& source, uint64_t& fileId) {
    if (!IsPath(source)) {
        fileId = std::stoull(source);
        return CZuError::Success();
    }
    Cluster::CFileAttributeInfo info;
    Cluster::CFileSystemQueries files = context.session.Files();
    CZuError error = context.session.Run(RequestKind::Get,
                                         [&] { return files.GetFileAttributes(source, info, 0); });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    fileId = info.id;
    return CZuError::Success();
}

// A listing the library reads whole. The fields are checked before the request is sent.
template <class Record, class Read, class ToFields>
CZuError PrintAll(CommandContext& context, Read read, ToFields toFields) {
    Listing listing(context.out, context.output, toFields(Record()));
    std::list<Record> records;
    CZuError error = context.session.Run(RequestKind::Get, [&] {
        records.clear();  // the library appends: a repeated read starts over
        return read(records);
    });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    for (const Record& record : records) listing.Add(toFields(record));
    listing.Finish();
    return CZuError::Success();
}

// What was done: a sentence for people, unless fields or a format for scripts are asked for.
void Acknowledge(CommandContext& context, const std::string& sentence, const Fields& fields) {
    if (context.output.format != Format::Table || !context.output.fields.empty()) {
        PrintItem(context.out, context.output, fields);
        return;
    }
    context.out << sentence << '\n';
    FlushOutput(context.out);
}

// The attributes of `path` with the cluster's own name for its type, which the library's
// record narrows to whether it is a directory: the request GetFileAttributes sends, its reply
// read by the library's parser, and "type" read from it here.
CZuError ReadAttributes(Session& session, const std::string& path,
                        Cluster::CFileAttributeInfo& info, std::string& type) {
    const boost::shared_ptr<Cluster::CConnection> connection = session.Connection();
    const boost::shared_ptr<Cluster::CParser> parser = session.Parser();
    std::string encoded;
    CZuError error = parser->ConvertPathToURLEncoding(path, encoded);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    std::string reply;
    error = session.Run(RequestKind::Get, [&] {
        return connection->SendRequest(Cluster::REQUEST_GET,
                                       "/v1/files/" + encoded + "/info/attributes", std::string(),
                                       reply, true);
    });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    error = parser->GetFileAttributesInfo(reply, info);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    rapidjson::Document document;  // iterative: no nesting in a reply can exhaust the stack
    document.Parse<rapidjson::kParseIterativeFlag>(reply.data(), reply.size());
    if (!document.IsObject()) return CZuError::Success();
    const auto member = document.FindMember("type");
    if (member != document.MemberEnd() && member->value.IsString()) {
        type =
            FileTypeName(std::string(member->value.GetString(), member->value.GetStringLength()));
    }
    return CZuError::Success();
}

}  // namespace

CZuError Login(CommandContext& context) {
    Acknowledge(context,
                "Logged in to " + EscapeForTerminal(context.session.Url()) + " as " +
                    EscapeForTerminal(context.session.User()),
                {TextField("url", context.session.Url()), TextField("user", context.session.User()),
                 BooleanField("logged_in", true)});
    return CZuError::Success();
}

CZuError ListSnapshots(CommandContext& context) {
    Cluster::CSnapshotQueries snapshots = context.session.Snapshots();
    return PrintAll<Cluster::CSnapshotInfo>(
        context,
        [&](std::list<Cluster::CSnapshotInfo>& records) {
            return snapshots.ListSnapshots(records);
        },
        SnapshotFields);
}

CZuError CreateSnapshot(CommandContext& context, const std::string& name, const std::string& source,
                        const std::string& expiration) {
    CheckFields(context.output, SnapshotFields({}));
    uint64_t sourceId = 0;
    CZuError error = ResolveFileId(context, source, sourceId);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    Cluster::CSnapshotInfo snapshot;
    Cluster::CSnapshotQueries snapshots = context.session.Snapshots();
    error = context.session.Run(RequestKind::Post, [&] {
        return snapshots.CreateSnapshot(name, sourceId, snapshot, expiration);
    });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintItem(context.out, context.output, SnapshotFields(snapshot));
    return CZuError::Success();
}

CZuError DeleteSnapshot(CommandContext& context, uint64_t snapshotId) {
    const Fields fields{NumberField("id", snapshotId), BooleanField("deleted", true)};
    CheckFields(context.output, fields);
    Cluster::CSnapshotQueries snapshots = context.session.Snapshots();
    CZuError error = context.session.Run(RequestKind::Delete,
                                         [&] { return snapshots.DeleteSnapshot(snapshotId); });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    Acknowledge(context, "Deleted snapshot " + std::to_string(snapshotId), fields);
    return CZuError::Success();
}

CZuError DiffSnapshots(CommandContext& context, uint64_t olderId, uint64_t newerId) {
    auto pager = clusterwalk::SnapshotDiffPager(context.session.Resilient(), olderId, newerId);
    Listing listing(context.out, context.output, ChangeFields({}));
    clusterwalk::PageCount count;
    auto handle = [&](const std::list<Cluster::CSnapshotDiffInfo>& changes) {
        for (const Cluster::CSnapshotDiffInfo& change : changes) listing.Add(ChangeFields(change));
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

CZuError StatPath(CommandContext& context, const std::string& path) {
    const EntryStyle style{ModeReading::OctalDigits, context.output.humanSizes};
    CheckFields(context.output, EntryFields({}, style));
    Cluster::CFileAttributeInfo info;
    std::string type;
    CZuError error = ReadAttributes(context.session, path, info, type);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintItem(context.out, context.output, EntryFields(info, style, type));
    return CZuError::Success();
}

CZuError ListSmbShares(CommandContext& context) {
    Cluster::CShares shares = context.session.Shares();
    return PrintAll<Cluster::CSMBShareEntry>(
        context,
        [&](std::list<Cluster::CSMBShareEntry>& records) { return shares.GetSMBShares(records); },
        SmbShareFields);
}

CZuError ShowSmbShare(CommandContext& context, uint64_t shareId) {
    CheckFields(context.output, SmbShareFields({}));
    Cluster::CSMBShareEntry share;
    Cluster::CShares shares = context.session.Shares();
    CZuError error =
        context.session.Run(RequestKind::Get, [&] { return shares.GetSMBShare(shareId, share); });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintItem(context.out, context.output, SmbShareFields(share));
    return CZuError::Success();
}

CZuError ListNfsExports(CommandContext& context) {
    Cluster::CShares shares = context.session.Shares();
    return PrintAll<Cluster::CNFSExportEntry>(
        context,
        [&](std::list<Cluster::CNFSExportEntry>& records) { return shares.GetNFSExports(records); },
        NfsExportFields);
}

CZuError ShowNfsExport(CommandContext& context, uint64_t exportId) {
    CheckFields(context.output, NfsExportFields({}));
    Cluster::CNFSExportEntry nfsExport;
    Cluster::CShares shares = context.session.Shares();
    CZuError error = context.session.Run(RequestKind::Get,
                                         [&] { return shares.GetNFSExport(exportId, nfsExport); });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    PrintItem(context.out, context.output, NfsExportFields(nfsExport));
    return CZuError::Success();
}

}  // namespace clusterctl
