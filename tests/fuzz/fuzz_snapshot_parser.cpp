// Snapshot replies: one snapshot, a snapshot listing, a page of changes between snapshots.
#include <list>
#include <string>

#include "Cluster/ClusterParser.h"
#include "tests/fuzz/fuzz_support.h"

using Cluster::CParser;
using Cluster::CSnapshotDiffInfo;
using Cluster::CSnapshotInfo;
using json_spirit::mValue;

namespace {

CSnapshotInfo OldSnapshot(uint64_t id) {
    CSnapshotInfo snapshot;
    snapshot.inDelete = true;
    snapshot.name = "kept_" + std::to_string(id);
    snapshot.timestamp = 1234;
    snapshot.sourceFileId = 5;
    snapshot.expiration = "never";
    snapshot.directoryName = "kept_dir";
    snapshot.id = id;
    return snapshot;
}

void MatchSnapshot(const mValue& element, const CSnapshotInfo& snapshot) {
    FUZZ_CHECK(fuzz::HasFlag(element, "in_delete", snapshot.inDelete));
    FUZZ_CHECK(fuzz::HasText(element, "name", snapshot.name));
    FUZZ_CHECK(fuzz::HasFlag(element, "created_by_policy", snapshot.createdByPolicy));
    FUZZ_CHECK(fuzz::HasText(element, "expiration", snapshot.expiration));
    FUZZ_CHECK(fuzz::HasText(element, "directory_name", snapshot.directoryName));
    FUZZ_CHECK(fuzz::HasNumber(element, "id", snapshot.id));
}

const char* OperationText(Cluster::SnapshotDiffOperation operation) {
    switch (operation) {
        case Cluster::SNAPSHOT_DIFF_CREATE:
            return "CREATE";
        case Cluster::SNAPSHOT_DIFF_DELETE:
            return "DELETE";
        case Cluster::SNAPSHOT_DIFF_MODIFY:
            return "MODIFY";
    }
    return "";
}

void MatchChange(const mValue& element, const CSnapshotDiffInfo& change) {
    FUZZ_CHECK(fuzz::HasText(element, "path", change.path));
    FUZZ_CHECK(fuzz::HasText(element, "op", OperationText(change.operation)));
    FUZZ_CHECK(change.isDirectory == (!change.path.empty() && change.path.back() == '/'));
}

void OneSnapshot(const std::string& text) {
    CSnapshotInfo snapshot = OldSnapshot(1);
    CZuError error;
    FUZZ_NO_EXCEPTION(error = CParser().GetSnapshotInformation(text, snapshot));
    fuzz::CheckResult(error);
    if (!error.IsError()) MatchSnapshot(fuzz::ReadReply(text), snapshot);
}

void SnapshotListing(const std::string& text) {
    const std::list<CSnapshotInfo> before = {OldSnapshot(1), OldSnapshot(2)};
    std::list<CSnapshotInfo> snapshots = before;
    CZuError error;
    FUZZ_NO_EXCEPTION(error = CParser().GetSnapshotsInformation(text, snapshots));
    fuzz::CheckResult(error);
    const mValue reply = fuzz::ReadReply(text);
    fuzz::CheckAppended(error, before, snapshots,
                        fuzz::ArrayOrNull(fuzz::Member(&reply, "entries")), MatchSnapshot);
}

void ChangesPage(const std::string& text) {
    const std::list<CSnapshotDiffInfo> before = {{"/kept/", Cluster::SNAPSHOT_DIFF_MODIFY, true}};
    std::list<CSnapshotDiffInfo> changes = before;
    std::string nextLink = fuzz::kPreviousLink;
    CZuError error;
    FUZZ_NO_EXCEPTION(error = CParser().GetSnapshotDiffInformation(text, changes, nextLink));
    fuzz::CheckResult(error);
    const mValue reply = fuzz::ReadReply(text);
    fuzz::CheckAppended(error, before, changes, fuzz::ArrayOrNull(fuzz::Member(&reply, "entries")),
                        MatchChange);
    fuzz::CheckNextLink(error, reply, nextLink, fuzz::kPreviousLink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::Input input = fuzz::Split(data, size);
    switch (input.selector % 3) {
        case 0:
            OneSnapshot(input.text);
            break;
        case 1:
            SnapshotListing(input.text);
            break;
        default:
            ChangesPage(input.text);
            break;
    }
    return 0;
}
