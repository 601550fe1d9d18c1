// The directory a snapshot was taken of, as a path: the snapshot's record names it by file id
// only, so `clusterctl changes --relative` asks the live directories above the first change
// for theirs, nearest first.
#pragma once

#include <cstdint>
#include <string>

#include "Commands.h"

namespace clusterctl {

// `directory` ends with "/"; empty when the difference is. Throws Failure (exit 5) when no
// directory above the first change has the source's id: it was moved or deleted since.
CZuError FindSourceDirectory(CommandContext& context, uint64_t older, uint64_t newer,
                             std::string& directory);

}  // namespace clusterctl
