#include "SyntheticChanges.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace clustersim {
namespace {

// Products such as number * room overflow 64 bits with a trillion leaves.
using Wide = unsigned __int128;

constexpr uint64_t kCycle = 10;  // the kinds repeat every ten changes
constexpr uint64_t kCreatedIdOffset = uint64_t{1} << 43;
constexpr int64_t kWindow = SyntheticChanges::kTargetTime - SyntheticChanges::kBaseTime;

// Salts of the draws made here, apart from the tree's own.
enum Salt : uint64_t { kRunSalt = 1, kCreateSalt, kModifySalt };

const char* const kCreatedExtensions[] = {".txt", ".csv", ".bin", ".md"};
const uint16_t kChangedModes[] = {0600, 0640, 0664, 0700, 0750};

const char* const kCreate = "CREATE";
const char* const kDelete = "DELETE";
const char* const kModify = "MODIFY";

// How many of the numbers below `end` have a remainder (mod 10) from `low` up to below `high`.
uint64_t CountInCycle(uint64_t end, uint64_t low, uint64_t high) {
    const uint64_t rest = end % kCycle;
    return end / kCycle * (high - low) + std::min(high, std::max(low, rest)) - low;
}

// A time between the two snapshots.
int64_t ChangedTime(uint64_t draw) {
    return SyntheticChanges::kBaseTime + 1 + static_cast<int64_t>(draw % (kWindow - 1));
}

uint64_t ActiveDirectories(uint64_t dirs, double locality) {
    const auto share =
        static_cast<uint64_t>(std::llround(static_cast<long double>(locality) * dirs));
    return std::clamp<uint64_t>(share, 1, dirs);
}

std::string LocalityText(double locality) {
    std::ostringstream text;
    text << locality;
    return text.str();
}

}  // namespace

bool SyntheticChanges::Check(const Synthetic& tree, const SyntheticTree& shape,
                             std::string* error) {
    if (!(shape.locality > 0 && shape.locality <= 1)) {
        *error = "locality=" + LocalityText(shape.locality) + " must be above 0 and at most 1";
        return false;
    }
    const SyntheticChanges probe(tree, shape);
    if (shape.changes <= probe.m_room) return true;
    *error = "changes=" + std::to_string(shape.changes) + " needs a file or symlink for each " +
             "change, and the changed directories (" +
             std::to_string(probe.m_endDirectory - probe.m_firstDirectory) + " of " +
             std::to_string(tree.Directories()) + " at locality=" + LocalityText(shape.locality) +
             ") hold " + std::to_string(probe.m_room);
    return false;
}

SyntheticChanges::SyntheticChanges(const Synthetic& tree, const SyntheticTree& shape)
    : m_tree(tree) {
    if (!tree.Enabled() || !(shape.locality > 0 && shape.locality <= 1)) return;
    const uint64_t dirs = tree.Directories();
    const uint64_t active = ActiveDirectories(dirs, shape.locality);
    m_firstDirectory = tree.Draw(kRunSalt, 0, 0) % (dirs - active + 1);
    m_endDirectory = m_firstDirectory + active;
    m_firstLeaf = tree.LeavesBefore(m_firstDirectory);
    m_room = tree.LeavesBefore(m_endDirectory) - m_firstLeaf;
    m_count = shape.changes <= m_room ? shape.changes : 0;
}

ChangeKind SyntheticChanges::KindOf(uint64_t number) {
    switch (number % kCycle) {
        case 0:
        case 1:
            return ChangeKind::CreateFile;
        case 2:
            return ChangeKind::CreateDirectory;
        case 3:
        case 4:
            return ChangeKind::Delete;
        case 5:
        case 6:
        case 7:
            return ChangeKind::ContentModify;
        default:
            return ChangeKind::MetadataModify;
    }
}

uint64_t SyntheticChanges::Creates(uint64_t begin, uint64_t end) {
    return CountInCycle(end, 0, 3) - CountInCycle(begin, 0, 3);
}

uint64_t SyntheticChanges::Deletes(uint64_t begin, uint64_t end) {
    return CountInCycle(end, 3, 5) - CountInCycle(begin, 3, 5);
}

// The directory is the last of the run whose leaves start at or before the change's leaf.
SyntheticChange SyntheticChanges::At(uint64_t number) const {
    const uint64_t leaf = m_firstLeaf + SlotOf(number);
    uint64_t low = m_firstDirectory;
    uint64_t high = m_endDirectory - 1;
    while (low < high) {
        const uint64_t middle = low + (high - low + 1) / 2;
        if (m_tree.LeavesBefore(middle) <= leaf) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    const uint64_t index = m_tree.LeafEntry(low, leaf - m_tree.LeavesBefore(low));
    return {number, KindOf(number), low, index};
}

std::optional<SyntheticChange> SyntheticChanges::AtEntry(uint64_t directory, uint64_t index) const {
    if (m_count == 0 || directory < m_firstDirectory || directory >= m_endDirectory ||
        !m_tree.IsLeaf(directory, index)) {
        return std::nullopt;
    }
    const uint64_t slot =
        m_tree.LeavesBefore(directory) + m_tree.LeavesBeforeEntry(directory, index) - m_firstLeaf;
    const uint64_t number = FirstAtSlot(slot);
    if (number >= m_count || SlotOf(number) != slot) return std::nullopt;
    return SyntheticChange{number, KindOf(number), directory, index};
}

uint64_t SyntheticChanges::FirstFrom(uint64_t directory, uint64_t index) const {
    if (m_count == 0 || directory < m_firstDirectory) return 0;
    if (directory >= m_endDirectory) return m_count;
    const uint64_t slot =
        m_tree.LeavesBefore(directory) + m_tree.LeavesBeforeEntry(directory, index) - m_firstLeaf;
    return FirstAtSlot(std::min(slot, m_room));
}

SyntheticEntry SyntheticChanges::Modified(const SyntheticChange& change,
                                          SyntheticEntry entry) const {
    const uint64_t draw = m_tree.Draw(kModifySalt, change.number, 0);
    Attributes& attrs = entry.attrs;
    if (change.kind == ChangeKind::ContentModify) {
        const uint64_t size = Synthetic::DrawnAttributes(draw, attrs.type, attrs.id).size;
        attrs.size = size == attrs.size ? size + 1 : size;
        attrs.modificationTime = ChangedTime(draw);
        attrs.changeTime = attrs.modificationTime;
        attrs.accessTime = std::max(attrs.accessTime, attrs.modificationTime);
    } else if (change.kind == ChangeKind::MetadataModify) {
        attrs.mode = kChangedModes[draw % std::size(kChangedModes)];
        attrs.owner = 1000 + static_cast<uint32_t>(draw >> 8) % 1000;
        attrs.group = 1000 + static_cast<uint32_t>(draw >> 24) % 100;
        attrs.changeTime = ChangedTime(draw >> 32);
    }
    return entry;
}

std::string SyntheticChanges::CreatedName(const SyntheticChange& change) const {
    std::string name = m_tree.Name(change.directory, change.index) + "-new";
    if (change.kind == ChangeKind::CreateFile) {
        const uint64_t draw = m_tree.Draw(kCreateSalt, change.number, 1);
        name += kCreatedExtensions[draw % std::size(kCreatedExtensions)];
    }
    return name;
}

SyntheticEntry SyntheticChanges::Created(const SyntheticChange& change) const {
    const bool directory = change.kind == ChangeKind::CreateDirectory;
    const uint64_t draw = m_tree.Draw(kCreateSalt, change.number, 0);
    SyntheticEntry entry;
    entry.name = CreatedName(change);
    entry.attrs = Synthetic::DrawnAttributes(draw, directory ? FileType::Directory : FileType::File,
                                             m_tree.IdBase() + kCreatedIdOffset + change.number);
    entry.attrs.creationTime = ChangedTime(draw);
    entry.attrs.modificationTime = entry.attrs.creationTime;
    entry.attrs.changeTime = entry.attrs.creationTime;
    entry.attrs.accessTime = entry.attrs.creationTime;
    if (directory) entry.directory = Synthetic::kCreatedDirectory;
    return entry;
}

std::vector<Change> SyntheticChanges::Page(uint64_t begin, uint64_t end, bool inverse) const {
    std::vector<Change> page;
    end = std::min(end, m_count);
    page.reserve(end > begin ? end - begin : 0);
    for (uint64_t number = begin; number < end; ++number) {
        const SyntheticChange change = At(number);
        const char* op = kModify;
        if (change.kind == ChangeKind::CreateFile || change.kind == ChangeKind::CreateDirectory) {
            op = inverse ? kDelete : kCreate;
        } else if (change.kind == ChangeKind::Delete) {
            op = inverse ? kCreate : kDelete;
        }
        page.push_back({op, Path(change)});
    }
    return page;
}

uint64_t SyntheticChanges::SlotOf(uint64_t number) const {
    return static_cast<uint64_t>(Wide{number} * m_room / m_count);
}

uint64_t SyntheticChanges::FirstAtSlot(uint64_t slot) const {
    return static_cast<uint64_t>((Wide{slot} * m_count + m_room - 1) / m_room);
}

std::string SyntheticChanges::Path(const SyntheticChange& change) const {
    std::string path = JoinPath(*m_tree.DirectoryNames(m_tree.IdBase() + change.directory)) + "/";
    switch (change.kind) {
        case ChangeKind::CreateFile:
            return path + CreatedName(change);
        case ChangeKind::CreateDirectory:
            return path + CreatedName(change) + "/";
        default:
            return path + m_tree.Name(change.directory, change.index);
    }
}

}  // namespace clustersim
