// The change feed's checkpoint lines, on the shared checkpoint file (Checkpoint.h). Internal to
// the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "ClusterWalk/ChangeFeed.h"
#include "ClusterWalk/Checkpoint.h"

namespace clusterwalk {

// A group is named by its window (0 for the one at `link`, 1 for the next) and its parent.
using DeliveredGroup = std::pair<uint64_t, std::string>;

// Where a feed stands: a resumed run reads the difference again from `link` in windows of
// `window` changes (the same windows, as a window is whole pages taken by the same rule) and
// passes over the groups in `delivered`.
struct FeedPosition {
    ChangeCheckpoint identity;
    size_t window = 0;
    std::string link;       // of the oldest page not fully delivered; empty: the first
    bool finished = false;  // every change was delivered
    std::set<DeliveredGroup> delivered;
};

bool SaveFeedPosition(CCheckpointFile& file, const FeedPosition& position, std::string& error);
bool LoadFeedPosition(const CCheckpointFile& file, FeedPosition& position, std::string& error);

}  // namespace clusterwalk
