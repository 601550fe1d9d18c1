// Ready-made content: the demo tree with its snapshots, shares and exports, and the big
// directories that benchmarks list and diff.
#pragma once

#include <cstdint>

#include "SimState.h"

namespace clustersim {

// Names with "?", "#", "%", "+", blanks and UTF-8, two snapshots of "/home" with changes
// between them, three SMB shares and three NFS exports.
void SeedDemo(SimState& state);
// "/big" with `count` files named "f0000000", "f0000001", ...
void SeedFiles(SimState& state, uint64_t count);
// Snapshots "diff-base" and "diff-target" of "/diff" that differ by `changes` changes, about a
// third each created, modified and deleted.
void SeedDiff(SimState& state, uint64_t changes);

}  // namespace clustersim
