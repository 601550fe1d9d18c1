// Directory entries made up in a test, as a tree walk hands them over: directories' paths end
// in "/", files' do not.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "Cluster/ClusterParser.h"

namespace tree_entries {

inline Cluster::CDirectoryEntry File(const std::string& path, uint64_t size, time_t modified = 0) {
    Cluster::CDirectoryEntry entry;
    entry.path = path;
    entry.size = size;
    entry.modificationTime = modified;
    return entry;
}

// A directory's own size is what the cluster reports for it, not what it holds.
inline Cluster::CDirectoryEntry Directory(const std::string& path, uint64_t ownSize = 4096) {
    Cluster::CDirectoryEntry entry = File(path, ownSize);
    entry.isDirectory = true;
    return entry;
}

}  // namespace tree_entries
