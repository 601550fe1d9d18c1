#include "Records.h"

#include <string>

#include "ClusterWalk/WalkUnit.h"
#include "Text.h"

namespace clusterpy {
namespace {

// The named tuple classes. Never freed: they must outlive every module object.
struct RecordTypes {
    py::object entry, snapshot, smbShare, nfsExport, diffEntry, change, walkSummary, changeSummary;
};
RecordTypes* g_types = nullptr;

py::object MakeType(py::module_& module, const char* name, const char* fields, const char* doc) {
    py::object type = py::module_::import("collections").attr("namedtuple")(name, fields);
    type.attr("__module__") = "clusterclient";
    type.attr("__doc__") = doc;
    module.attr(name) = type;
    return type;
}

py::list UnitTexts(const std::vector<clusterwalk::WalkUnit>& units) {
    py::list texts;
    for (const clusterwalk::WalkUnit& unit : units) texts.append(ToText(FormatUnit(unit)));
    return texts;
}

}  // namespace

void BindRecords(py::module_& module) {
    g_types = new RecordTypes{
        MakeType(module, "Entry",
                 "path is_directory id mode owner group size change_time modification_time "
                 "creation_time",
                 "A file or directory: its path, whether it is a directory, its id, mode, owner, "
                 "group and size (int), and its times (datetime in UTC; None for a time "
                 "datetime cannot hold)."),
        MakeType(module, "Snapshot",
                 "id name timestamp source_file_id created_by_policy expiration directory_name "
                 "in_delete",
                 "A snapshot: id, name, timestamp (datetime in UTC), the id of the directory it "
                 "froze, whether a policy made it, its expiration text as the cluster gave it "
                 "(empty: never), its directory name and whether it is being deleted."),
        MakeType(module, "SmbShare",
                 "id share_name fs_path description read_only allow_guest_access "
                 "access_based_enumeration_enabled default_file_create_mode "
                 "default_directory_create_mode",
                 "An SMB share; the create modes stay text, as \"0644\"."),
        MakeType(module, "NfsExport", "id export_path fs_path description", "An NFS export."),
        MakeType(module, "DiffEntry", "path operation is_directory",
                 "One change between two snapshots: the path (a directory's ends with \"/\"), "
                 "the operation (\"create\", \"delete\" or \"modify\") and whether it is a "
                 "directory."),
        MakeType(module, "Change", "operation kind path is_directory attributes",
                 "One change of a change feed: operation (\"create\", \"delete\", \"modify\"), "
                 "kind (\"create\", \"delete\", \"content\", \"metadata\", or \"modify\" when it "
                 "could not be told), path, whether it is a directory, and the Entry as of the "
                 "newer snapshot (None for deletions and when not asked for or not found)."),
        MakeType(module, "WalkSummary",
                 "entries directories pages bytes failed vanished loops unfinished complete error",
                 "What a walk did: entries delivered, directories read whole, pages, bytes of the "
                 "files delivered; failed, loops and unfinished as unit texts (walk them again to "
                 "go on), vanished as paths; complete when nothing failed or was left; error: why "
                 "the walk could not go on at all (empty otherwise)."),
        MakeType(module, "ChangeSummary",
                 "changes creates deletes content_modifies metadata_modifies other_modifies "
                 "without_attributes difference_pages listing_pages complete error",
                 "What a change feed delivered and read; complete when it reached the end; error: "
                 "why it could not go on (empty otherwise)."),
    };
}

py::object ToEntry(const Cluster::CDirectoryEntry& entry) {
    return g_types->entry(ToText(entry.path), entry.isDirectory, entry.id, entry.mode, entry.owner,
                          entry.group, entry.size, ToUtcTime(entry.changeTime),
                          ToUtcTime(entry.modificationTime), ToUtcTime(entry.creationTime));
}

py::object ToSnapshot(const Cluster::CSnapshotInfo& snapshot) {
    return g_types->snapshot(snapshot.id, ToText(snapshot.name), ToUtcTime(snapshot.timestamp),
                             snapshot.sourceFileId, snapshot.createdByPolicy,
                             ToText(snapshot.expiration), ToText(snapshot.directoryName),
                             snapshot.inDelete);
}

py::object ToSmbShare(const Cluster::CSMBShareEntry& share) {
    return g_types->smbShare(
        share.id, ToText(share.shareName), ToText(share.fsPath), ToText(share.description),
        share.readOnly, share.allowGuestAccess, share.accessBasedEnumerationEnabled,
        ToText(share.defaultFileCreateMode), ToText(share.defaultDirectoryCreateMode));
}

py::object ToNfsExport(const Cluster::CNFSExportEntry& nfsExport) {
    return g_types->nfsExport(nfsExport.id, ToText(nfsExport.exportPath), ToText(nfsExport.fsPath),
                              ToText(nfsExport.description));
}

py::object ToDiffEntry(const Cluster::CSnapshotDiffInfo& change) {
    return g_types->diffEntry(ToText(change.path), clusterwalk::OperationName(change.operation),
                              change.isDirectory);
}

py::object ToChange(const clusterwalk::ChangeRecord& change) {
    py::object attributes = change.hasAttributes ? ToEntry(change.attributes) : py::none();
    return g_types->change(clusterwalk::OperationName(change.operation),
                           clusterwalk::ChangeKindName(change.kind), ToText(change.path),
                           change.isDirectory, attributes);
}

py::object ToWalkSummary(const clusterwalk::WalkSummary& summary) {
    py::list failed;
    for (const clusterwalk::FailedUnit& unit : summary.failed) {
        failed.append(ToText(FormatUnit(unit.unit)));
    }
    py::list vanished;
    for (const std::string& path : summary.vanished) vanished.append(ToText(path));
    return g_types->walkSummary(summary.entries, summary.directoriesListed, summary.pages,
                                summary.bytes, failed, vanished, UnitTexts(summary.loops),
                                UnitTexts(summary.unfinished), summary.Complete(),
                                ToText(summary.error));
}

py::object ToChangeSummary(const clusterwalk::ChangeSummary& summary) {
    const clusterwalk::ChangeTotals& totals = summary.totals;
    return g_types->changeSummary(
        totals.changes, totals.creates, totals.deletes, totals.contentModifies,
        totals.metadataModifies, totals.otherModifies, totals.withoutAttributes,
        totals.differencePages, totals.listingPages, summary.Complete(), ToText(summary.error));
}

}  // namespace clusterpy
