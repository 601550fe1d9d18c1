// The library's records as named fields for Output: what each command shows and how.
#pragma once

#include <ctime>
#include <string>

#include "Cluster/ClusterParser.h"
#include "Output.h"

namespace clusterctl {

// "2026-12-08T15:37:33Z".
std::string IsoTime(time_t time);
// Powers of 1024 with one decimal below ten, as `ls -h` shows them: "512", "1.5K", "20M".
std::string HumanSize(uint64_t bytes);

// How a directory entry's mode was read: a listing holds the mode's value, an attribute
// reply holds its octal digits read as a decimal number.
enum class ModeReading { Value, OctalDigits };

// "FS_FILE_TYPE_SYMLINK" as "symlink"; a type without that prefix as it was sent.
std::string FileTypeName(const std::string& clusterType);

struct EntryStyle {
    ModeReading mode = ModeReading::Value;
    bool humanSizes = false;
};

// Each gives every field of its record in the order shown; a default-constructed record gives
// the names for Listing and CheckFields.
Fields SnapshotFields(const Cluster::CSnapshotInfo& snapshot);
Fields ChangeFields(const Cluster::CSnapshotDiffInfo& change);
// `type` is the cluster's own name for the entry's type (see FileTypeName); empty: "directory"
// or "file" as the library's record tells them apart.
Fields EntryFields(const Cluster::CDirectoryEntry& entry, const EntryStyle& style,
                   const std::string& type = std::string());
// Plain `ls`, `ls -R` and `find` as a table, and -0, show paths alone; every other form the
// fields.
bool PathsOnly(const OutputOptions& output, bool longFormat);
Fields EntryRow(const Cluster::CDirectoryEntry& entry, const OutputOptions& output,
                bool longFormat);
Fields SmbShareFields(const Cluster::CSMBShareEntry& share);
Fields NfsExportFields(const Cluster::CNFSExportEntry& nfsExport);

}  // namespace clusterctl
