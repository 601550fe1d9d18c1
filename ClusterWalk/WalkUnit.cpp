#include "ClusterWalk/WalkUnit.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "ClusterWalk/TextFields.h"

namespace clusterwalk {

namespace {

constexpr const char* kTag = "unit1";
constexpr size_t kFields = 7;

bool ParseAncestors(const std::string& field, std::vector<uint64_t>& ids) {
    ids.clear();
    if (field == kEmptyField) return true;
    for (const std::string& part : SplitText(field, ',')) {
        uint64_t id = 0;
        if (!ParseDecimal(part, id)) return false;
        ids.push_back(id);
    }
    return true;
}

std::string JoinIds(const std::vector<uint64_t>& ids) {
    if (ids.empty()) return kEmptyField;
    std::string joined;
    for (const uint64_t id : ids) {
        if (!joined.empty()) joined += ',';
        joined += std::to_string(id);
    }
    return joined;
}

bool ParseFields(const std::vector<std::string>& fields, WalkUnit& unit, std::string& error) {
    uint64_t snapshot = 0;
    if (!ParseDecimal(fields[1], snapshot) || snapshot > static_cast<uint64_t>(INT_MAX)) {
        error = "bad snapshot id [" + fields[1] + "]";
        return false;
    }
    if (!ParseDecimal(fields[2], unit.id)) {
        error = "bad directory id [" + fields[2] + "]";
        return false;
    }
    if (!ParseDecimal(fields[3], unit.delivered)) {
        error = "bad count of delivered entries [" + fields[3] + "]";
        return false;
    }
    if (!ParseAncestors(fields[4], unit.ancestorIds)) {
        error = "bad ancestor ids [" + fields[4] + "]";
        return false;
    }
    if (!UnescapeField(fields[5], unit.path) || unit.path.empty()) {
        error = "bad path [" + fields[5] + "]";
        return false;
    }
    if (!UnescapeField(fields[6], unit.pageLink)) {
        error = "bad page link [" + fields[6] + "]";
        return false;
    }
    unit.snapshotId = static_cast<int>(snapshot);
    return true;
}

}  // namespace

WalkUnit RootUnit(std::string path, int snapshotId) {
    WalkUnit unit;
    unit.snapshotId = snapshotId;
    unit.path = std::move(path);
    return unit;
}

WalkUnit ChildUnit(const WalkUnit& parent, const Cluster::CDirectoryEntry& entry) {
    WalkUnit child;
    child.snapshotId = parent.snapshotId;
    child.path = entry.path;
    child.id = entry.id;
    child.ancestorIds.reserve(parent.ancestorIds.size() + 1);
    child.ancestorIds.assign(parent.ancestorIds.begin(), parent.ancestorIds.end());
    child.ancestorIds.push_back(parent.id);
    return child;
}

bool ClosesLoop(const WalkUnit& parent, uint64_t childId) {
    // An unknown id (0) matches nothing: a root given by path only is not checked.
    if (childId == 0) return false;
    if (childId == parent.id) return true;
    return std::find(parent.ancestorIds.begin(), parent.ancestorIds.end(), childId) !=
           parent.ancestorIds.end();
}

std::string FormatUnit(const WalkUnit& unit) {
    try {
        return std::string(kTag) + ' ' + std::to_string(unit.snapshotId) + ' ' +
               std::to_string(unit.id) + ' ' + std::to_string(unit.delivered) + ' ' +
               JoinIds(unit.ancestorIds) + ' ' + EscapeField(unit.path) + ' ' +
               EscapeField(unit.pageLink);
    } catch (...) {
        return std::string();
    }
}

bool ParseUnit(const std::string& line, WalkUnit& unit, std::string& error) {
    try {
        const std::vector<std::string> fields = SplitText(line, ' ');
        if (fields.size() != kFields || fields[0] != kTag) {
            error = "not a walk unit: expected \"" + std::string(kTag) +
                    " SNAPSHOT ID DELIVERED ANCESTORS PATH PAGELINK\"";
            return false;
        }
        WalkUnit parsed;
        if (!ParseFields(fields, parsed, error)) return false;
        unit = std::move(parsed);
        return true;
    } catch (...) {
        error = "out of memory reading a walk unit";
        return false;
    }
}

}  // namespace clusterwalk
