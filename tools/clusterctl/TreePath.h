// Where an entry of a walk sits below the path the walk started from. Directory paths end in
// "/" and the starting path may or may not, so both go through here to agree on depths.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace clusterctl {

// `root` with exactly one trailing "/" ("/" stays "/").
std::string DirectoryForm(const std::string& root);

// For each component of `path` below `rootDirectory` (a DirectoryForm), the length of the
// prefix of `path` that ends with that component, without its "/". Empty components (a
// doubled "/") and a trailing "/" add none. Empty for the root itself; nullopt for a path that
// is neither the root nor below it.
std::optional<std::vector<size_t>> ComponentEnds(const std::string& rootDirectory,
                                                 const std::string& path);

}  // namespace clusterctl
