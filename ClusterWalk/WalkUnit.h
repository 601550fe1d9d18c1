// One directory still to walk, or to walk on from a page: what a tree walk hands from one
// connection to another, and back to its caller when it stops. Its one-line text form lets a
// later run, in this process or another, pick up exactly where the walk stopped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "ClusterWalk/ClusterWalkExport.h"

namespace clusterwalk {

struct WalkUnit {
    int snapshotId = 0;    // 0: the live file system
    std::string path;      // the directory, as the cluster spells it in listings
    std::string pageLink;  // the page to read next; empty: the first
    // The ids of the directories above this one within the walk, its root first; a directory
    // whose id is among them leads back into itself.
    std::vector<uint64_t> ancestorIds;
    // 0: not known yet (a root given by its path only; the walker reads it before listing)
    uint64_t id = 0;
    // The entries of this directory delivered before `pageLink`: when a resumed walk finds
    // the link no longer accepted, it lists the directory afresh and skips that many.
    uint64_t delivered = 0;

    bool operator==(const WalkUnit& other) const {
        return snapshotId == other.snapshotId && path == other.path && pageLink == other.pageLink &&
               ancestorIds == other.ancestorIds && id == other.id && delivered == other.delivered;
    }
};

// How far below the walk's start the unit's directory lies: 0 for a start.
inline size_t UnitDepth(const WalkUnit& unit) {
    return unit.ancestorIds.size();
}

// A walk's start: the directory `path` from its first page.
CLUSTERWALK_API WalkUnit RootUnit(std::string path, int snapshotId);

// The unit of a subdirectory that `parent` listed.
CLUSTERWALK_API WalkUnit ChildUnit(const WalkUnit& parent, const Cluster::CDirectoryEntry& entry);

// True when entering a directory of id `childId` listed by `parent` would walk into a
// directory already on the way down: the parent itself or one of its ancestors.
CLUSTERWALK_API bool ClosesLoop(const WalkUnit& parent, uint64_t childId);

// One line, no line break: "unit1 SNAPSHOT ID DELIVERED ANCESTORS PATH PAGELINK", with ANCESTORS
// ids joined by "," and PATH and PAGELINK percent-escaped, so that any byte survives; "-" stands
// for an empty list or text. Empty only when memory ran out.
CLUSTERWALK_API std::string FormatUnit(const WalkUnit& unit);

// Reads a line made by FormatUnit. False, with what is wrong in `error` and `unit` untouched,
// when the line is not one.
CLUSTERWALK_API bool ParseUnit(const std::string& line, WalkUnit& unit, std::string& error);

}  // namespace clusterwalk
