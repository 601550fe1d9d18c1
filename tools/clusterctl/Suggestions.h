// "Did you mean …" for a mistyped command.
#pragma once

#include <string>
#include <vector>

namespace clusterctl {

// The known name `typed` most likely meant: the closest within two edits (one for short
// names), or the only one it is a prefix of; empty when none is close.
std::string ClosestName(const std::string& typed, const std::vector<std::string>& known);

}  // namespace clusterctl
