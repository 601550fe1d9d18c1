// Deterministic reply texts shaped as a real cluster sends them, for the benchmarks.
#pragma once

#include <string>

namespace bench {

// {"files":[…],"paging":{…}}: each entry the ten keys the library reads plus seven it ignores.
std::string DirectoryPage(int entries);
// {"entries":[{"op","path"}…],"paging":{"next"}}.
std::string SnapshotDiffPage(int changes);
// {"entries":[snapshot…]}.
std::string SnapshotListing(int snapshots);
// One SMB share object with the permission lists a cluster adds.
std::string SmbShare();
// One RFC 3339 time text with nanoseconds.
std::string TimeText(int seed);

}  // namespace bench
