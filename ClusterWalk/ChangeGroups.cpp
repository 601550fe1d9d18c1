#include "ClusterWalk/ChangeGroups.h"

#include <list>
#include <unordered_set>

#include "ClusterWalk/PageReader.h"

namespace clusterwalk {

namespace {

constexpr long kNotFound = 404;

ChangeKind ModifyKind(const Cluster::CDirectoryEntry& newer,
                      const Cluster::CDirectoryEntry& older) {
    if (newer.size != older.size || newer.modificationTime != older.modificationTime)
        return ChangeKind::ContentModify;
    if (newer.mode != older.mode || newer.owner != older.owner || newer.group != older.group ||
        newer.changeTime != older.changeTime)
        return ChangeKind::MetadataModify;
    return ChangeKind::Modify;
}

const Cluster::CDirectoryEntry* Find(const ParentListing* listing, const std::string& key) {
    if (listing == nullptr || listing->end != ParentListing::End::Read) return nullptr;
    const auto found = listing->entries.find(key);
    return found == listing->entries.end() ? nullptr : &found->second;
}

}  // namespace

std::string PathKey(const std::string& path) {
    if (!path.empty() && path.back() == '/') return path.substr(0, path.size() - 1);
    return path;
}

std::string ParentOf(const std::string& path) {
    const std::string key = PathKey(path);
    const size_t slash = key.rfind('/');
    return slash == std::string::npos ? std::string() : key.substr(0, slash + 1);
}

ParentListing ListParent(CResilientSession& session, const std::string& parent, int snapshotId,
                         const std::set<std::string>& wanted) {
    ParentListing listing;
    CDirectoryPageReader reader(session, parent, snapshotId);
    std::list<Cluster::CDirectoryEntry> entries;
    std::string nextLink;
    // A cluster that hands out a link twice would keep this listing going forever.
    std::unordered_set<std::string> seenLinks;
    do {
        nextLink.clear();
        const CZuError error = reader.Next(entries, nextLink);
        if (error.IsError()) {
            if (session.Job().Cancelled() || error.GetCode() == kCancelledError)
                listing.end = ParentListing::End::Cancelled;
            else if (session.GetLastRequestOutcome().httpStatus == kNotFound)
                listing.end = ParentListing::End::Missing;
            else
                listing.end = ParentListing::End::Failed;
            listing.error = error.ToString();
            return listing;
        }
        ++listing.pages;
        for (Cluster::CDirectoryEntry& entry : entries) {
            std::string key = PathKey(entry.path);
            if (wanted.count(key) != 0) listing.entries.emplace(std::move(key), std::move(entry));
        }
        if (!nextLink.empty() && !seenLinks.insert(nextLink).second) {
            listing.end = ParentListing::End::Failed;
            listing.error = "the cluster repeated the page link [" + nextLink + "]";
            return listing;
        }
    } while (!nextLink.empty());
    return listing;
}

ChangeRecord PlainRecord(const Cluster::CSnapshotDiffInfo& change) {
    ChangeRecord record;
    record.operation = change.operation;
    record.path = change.path;
    record.isDirectory = change.isDirectory;
    switch (change.operation) {
        case Cluster::SNAPSHOT_DIFF_CREATE:
            record.kind = ChangeKind::Create;
            break;
        case Cluster::SNAPSHOT_DIFF_DELETE:
            record.kind = ChangeKind::Delete;
            break;
        default:
            record.kind = ChangeKind::Modify;
            break;
    }
    return record;
}

std::vector<ChangeRecord> MakeRecords(const std::vector<Cluster::CSnapshotDiffInfo>& changes,
                                      const ParentListing* newer, const ParentListing* older) {
    std::vector<ChangeRecord> records;
    records.reserve(changes.size());
    for (const Cluster::CSnapshotDiffInfo& change : changes) {
        ChangeRecord record = PlainRecord(change);
        if (change.operation != Cluster::SNAPSHOT_DIFF_DELETE) {
            const std::string key = PathKey(change.path);
            const Cluster::CDirectoryEntry* now = Find(newer, key);
            const Cluster::CDirectoryEntry* before = Find(older, key);
            if (now != nullptr) {
                record.hasAttributes = true;
                record.attributes = *now;
            }
            if (change.operation == Cluster::SNAPSHOT_DIFF_MODIFY && now != nullptr &&
                before != nullptr)
                record.kind = ModifyKind(*now, *before);
        }
        records.push_back(std::move(record));
    }
    return records;
}

void CountRecords(const std::vector<ChangeRecord>& records, bool attributes, ChangeTotals& totals) {
    for (const ChangeRecord& record : records) {
        ++totals.changes;
        switch (record.kind) {
            case ChangeKind::Create:
                ++totals.creates;
                break;
            case ChangeKind::Delete:
                ++totals.deletes;
                break;
            case ChangeKind::ContentModify:
                ++totals.contentModifies;
                break;
            case ChangeKind::MetadataModify:
                ++totals.metadataModifies;
                break;
            case ChangeKind::Modify:
                ++totals.otherModifies;
                break;
        }
        if (attributes && record.operation != Cluster::SNAPSHOT_DIFF_DELETE &&
            !record.hasAttributes)
            ++totals.withoutAttributes;
    }
}

void AddTotals(ChangeTotals& totals, const ChangeTotals& more) {
    totals.changes += more.changes;
    totals.creates += more.creates;
    totals.deletes += more.deletes;
    totals.contentModifies += more.contentModifies;
    totals.metadataModifies += more.metadataModifies;
    totals.otherModifies += more.otherModifies;
    totals.withoutAttributes += more.withoutAttributes;
    totals.differencePages += more.differencePages;
    totals.listingPages += more.listingPages;
}

}  // namespace clusterwalk
