// What the change feed does with one group of changes under one parent directory: the parent's
// listings as of each snapshot, kept to the entries the group wants, and the records made from
// them. Internal to the library.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "ClusterWalk/ChangeFeed.h"
#include "ClusterWalk/ResilientSession.h"

namespace clusterwalk {

// `path` without a directory's trailing "/": how a difference and a listing spell one entry
// alike.
std::string PathKey(const std::string& path);
// The directory that holds `path`, with its trailing "/"; empty when it has none.
std::string ParentOf(const std::string& path);

struct ParentListing {
    enum class End { Read, Missing, Failed, Cancelled };
    End end = End::Read;
    std::map<std::string, Cluster::CDirectoryEntry> entries;  // by PathKey, the wanted only
    uint64_t pages = 0;
    std::string error;  // when Failed
};

// Every page of `parent` as of the snapshot, keeping the entries whose PathKey is wanted.
// Missing: the parent was not there (HTTP 404) as of that snapshot.
ParentListing ListParent(CResilientSession& session, const std::string& parent, int snapshotId,
                         const std::set<std::string>& wanted);

// The records for `changes`, all under one parent, from its listings (null when not read).
std::vector<ChangeRecord> MakeRecords(const std::vector<Cluster::CSnapshotDiffInfo>& changes,
                                      const ParentListing* newer, const ParentListing* older);

// Records with nothing but the difference: operation, path and the kind it alone tells.
ChangeRecord PlainRecord(const Cluster::CSnapshotDiffInfo& change);

// Adds what `records` count to `totals` (not the page counts).
void CountRecords(const std::vector<ChangeRecord>& records, bool attributes, ChangeTotals& totals);
void AddTotals(ChangeTotals& totals, const ChangeTotals& more);

}  // namespace clusterwalk
