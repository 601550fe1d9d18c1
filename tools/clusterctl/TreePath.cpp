#include "TreePath.h"

namespace clusterctl {

std::string DirectoryForm(const std::string& root) {
    const size_t last = root.find_last_not_of('/');
    return last == std::string::npos ? "/" : root.substr(0, last + 1) + "/";
}

std::optional<std::vector<size_t>> ComponentEnds(const std::string& rootDirectory,
                                                 const std::string& path) {
    // The root itself may come without its trailing "/".
    if (path.size() + 1 == rootDirectory.size() && rootDirectory.compare(0, path.size(), path) == 0)
        return std::vector<size_t>();
    if (path.compare(0, rootDirectory.size(), rootDirectory) != 0) return std::nullopt;
    std::vector<size_t> ends;
    for (size_t i = rootDirectory.size(); i < path.size(); ++i) {
        const bool componentEnds = i + 1 == path.size() || path[i + 1] == '/';
        if (path[i] != '/' && componentEnds) ends.push_back(i + 1);
    }
    return ends;
}

}  // namespace clusterctl
