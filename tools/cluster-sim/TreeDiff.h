// What changed between two frozen versions of one directory, as changes-since reports it.
#pragma once

#include <string>
#include <vector>

#include "FileTree.h"

namespace clustersim {

struct Change {
    const char* op;    // "CREATE", "DELETE" or "MODIFY"
    std::string path;  // directories end with "/"
};

// The changes that turn directory `before` into `after`, both found at `path`, sorted by path.
// Subtrees both versions share are skipped without a look, so the cost follows the changes,
// not the size of the tree.
std::vector<Change> DiffTrees(const NodePtr& before, const NodePtr& after, const std::string& path);

}  // namespace clustersim
