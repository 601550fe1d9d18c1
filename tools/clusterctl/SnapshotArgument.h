// A snapshot as people name it on the command line: digits only are an id, anything else is
// a name looked up in the snapshot list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Session.h"

namespace clusterctl {

// The ids of `arguments`, in order, with one snapshot listing at most. Throws Failure when a
// name matches no snapshot (exit 5) or several (exit 1), listing the candidates.
CZuError ResolveSnapshots(Session& session, const std::vector<std::string>& arguments,
                          std::vector<uint64_t>& ids);

// Asks on the terminal before snapshot `id` (named `argument` on the command line) is
// deleted; throws Failure (exit 1) unless the answer is yes.
void ConfirmDeletion(uint64_t id, const std::string& argument);

}  // namespace clusterctl
