// What the library's parsers are measured against, in the same run:
// - the original design, parsed as literally described: the whole reply into the value tree,
//   arrays and elements copied, snapshot elements written back to text and parsed again,
//   times through std::get_time and mktime (this value tree is the project's RapidJSON-backed
//   one, faster than the original's, so the ratios against it are conservative);
// - the portable parse limit: RapidJSON's SAX reader filling the same records straight from
//   the text, no tree.
// Benchmark code only; the library never uses these.
#pragma once

#include <list>
#include <string>

#include "Cluster/ClusterParser.h"

namespace bench {

bool OriginalDirectoryPage(const std::string& text, std::list<Cluster::CDirectoryEntry>& entries,
                           std::string& next);
bool OriginalDiffPage(const std::string& text, std::list<Cluster::CSnapshotDiffInfo>& changes,
                      std::string& next);
bool OriginalSnapshotListing(const std::string& text, std::list<Cluster::CSnapshotInfo>& snapshots);
bool OriginalTime(const std::string& text, time_t& value);

bool SaxDirectoryPage(const std::string& text, std::list<Cluster::CDirectoryEntry>& entries,
                      std::string& next);
bool SaxDiffPage(const std::string& text, std::list<Cluster::CSnapshotDiffInfo>& changes,
                 std::string& next);
bool SaxSnapshotListing(const std::string& text, std::list<Cluster::CSnapshotInfo>& snapshots);

}  // namespace bench
