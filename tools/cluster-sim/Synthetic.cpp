#include "Synthetic.h"

#include <algorithm>
#include <memory>

#include "Render.h"
#include "SyntheticChanges.h"

namespace clustersim {
namespace {

// Products such as index * subdirectories overflow 64 bits in a tree of a trillion entries.
using Wide = unsigned __int128;

const std::string kRootName = "synthetic";
constexpr size_t kMinimumDigits = 4;
constexpr uint64_t kSymlinkOdds = 40;  // one leaf in about 40 is a symlink
constexpr unsigned kIdShift = 44;      // 2^44 is above kMaxFiles plus as many directories
constexpr uint64_t kNoDirectory = ~uint64_t{0};

// Salts, so that the draws made for one entry do not depend on one another.
enum Salt : uint64_t { kEntrySalt = 1, kSplitSalt, kRootSalt, kIdSalt, kOtherSalts = 16 };

constexpr int64_t kSecond = 1000000000;
constexpr int64_t kDay = 86400 * kSecond;
constexpr int64_t kEpoch = 1577836800 * kSecond;  // 2020-01-01T00:00:00Z
constexpr int64_t kSpan = 6 * 365 * kDay;

const char* const kDirectoryWords[] = {
    "projects", "photos", "archive 2024", "src",  "Données",  "backup",   "reports", "tmp",
    "música",   "logs",   "build",        "home", "raw#data", "50% done", "shared",  "q3+q4",
};
const char* const kFileWords[] = {
    "report", "notes",  "IMG",    "data",  "résumé", "invoice", "draft v2", "log",
    "readme", "budget", "chart",  "a#b",   "50%off", "über",    "x+y",      "データ",
    "scan",   "memo",   "export", "photo", "sheet",  "backup",  "a?b",      "plan",
};
const char* const kExtensions[] = {".txt", ".csv",    ".jpg", ".pdf",  ".log",
                                   ".bin", ".tar.gz", ".md",  ".json", ""};
const char* const kLinkWords[] = {"latest", "current", "shortcut", "previous"};
const char kSeparators[] = {'-', '_', ' '};

// SplitMix64's finaliser: every input bit reaches every output bit.
uint64_t Mix(uint64_t value) {
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

uint64_t Hash(uint64_t seed, uint64_t directory, uint64_t index, Salt salt) {
    return Mix(Mix(Mix(seed + salt) + directory) + index);
}

template <typename T, size_t N>
const T& Pick(const T (&choices)[N], uint64_t draw) {
    return choices[draw % N];
}

size_t Digits(uint64_t value) {
    size_t digits = 1;
    for (; value >= 10; value /= 10) ++digits;
    return digits;
}

size_t NameWidth(uint64_t entries) {
    return std::max(kMinimumDigits, Digits(entries > 0 ? entries - 1 : 0));
}

// Whether `fanout` subdirectories to a directory make room for `dirs` directories within
// `depth` levels.
bool Holds(uint64_t fanout, unsigned depth, uint64_t dirs) {
    Wide total = 1;
    Wide level = 1;
    for (unsigned i = 0; i < depth && total < dirs; ++i) {
        level *= fanout;
        total += level;
    }
    return total >= dirs;
}

// The smallest fanout from 2 up that makes room; dirs - 1 always does, in one level.
uint64_t Fanout(uint64_t dirs, unsigned depth) {
    uint64_t low = 2;
    uint64_t high = std::max<uint64_t>(2, dirs);
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        if (Holds(middle, depth, dirs)) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// Subdirectory j of k among `entries` sits at floor((2j+1) entries / 2k): midpoints of k equal
// runs, at least one entry apart, so no two share an index.
uint64_t SubdirectoryIndex(uint64_t k, uint64_t entries, uint64_t j) {
    return static_cast<uint64_t>((Wide{2} * j + 1) * entries / (Wide{2} * k));
}

// How many of those k subdirectories sit before `index`: the j with (2j+1) entries < 2 index k.
uint64_t SubdirectoriesBefore(uint64_t k, uint64_t entries, uint64_t index) {
    const Wide twice = Wide{2} * index * k;
    if (k == 0 || twice <= entries) return 0;
    const Wide count = (twice - entries - 1) / (Wide{2} * entries) + 1;
    return static_cast<uint64_t>(std::min<Wide>(count, k));
}

int64_t DrawBelow(uint64_t draw, int64_t range) {
    return static_cast<int64_t>(draw % static_cast<uint64_t>(range));
}

std::optional<std::string> ShapeError(const SyntheticTree& shape) {
    const std::string dirs = std::to_string(shape.dirs);
    if (shape.files > Synthetic::kMaxFiles) {
        return "files=" + std::to_string(shape.files) + " is more than " +
               std::to_string(Synthetic::kMaxFiles);
    }
    if (shape.dirs == 0) return "dirs must be at least 1 (/synthetic itself)";
    if (shape.dirs - 1 > shape.files) {
        return "dirs=" + dirs + " needs files of at least " + std::to_string(shape.dirs - 1) +
               ": every directory but /synthetic is one of the files";
    }
    if (shape.depth == 0 || shape.depth > Synthetic::kMaxDepth) {
        return "depth must be from 1 to " + std::to_string(Synthetic::kMaxDepth);
    }
    return std::nullopt;
}

}  // namespace

Attributes Synthetic::DrawnAttributes(uint64_t draw, FileType type, uint64_t id) {
    Attributes attrs;
    attrs.type = type;
    attrs.id = id;
    if (type == FileType::File) {
        const unsigned bits = 8 + static_cast<unsigned>(Mix(draw ^ 4) % 23);  // below 1 GiB
        attrs.size = Mix(draw ^ 5) & ((uint64_t{1} << bits) - 1);
    } else if (type == FileType::Symlink) {
        attrs.size = 8 + Mix(draw ^ 5) % 56;  // the length of its target
    }
    attrs.creationTime = kEpoch + DrawBelow(Mix(draw ^ 1), kSpan);
    attrs.modificationTime = attrs.creationTime + DrawBelow(Mix(draw ^ 2), kSpan / 4);
    attrs.changeTime = attrs.modificationTime;
    attrs.accessTime = attrs.modificationTime + DrawBelow(Mix(draw ^ 3), 30 * kDay);
    return attrs;
}

bool Synthetic::Check(const SyntheticTree& shape, uint64_t fallbackSeed, std::string* error) {
    if (shape.files == 0) return true;
    if (const auto problem = ShapeError(shape)) {
        *error = *problem;
        return false;
    }
    return SyntheticChanges::Check(Synthetic(shape, fallbackSeed), shape, error);
}

Synthetic::Synthetic(const SyntheticTree& shape, uint64_t fallbackSeed) {
    if (shape.files == 0 || ShapeError(shape)) return;
    m_files = shape.files;
    m_dirs = shape.dirs;
    m_leaves = m_files - (m_dirs - 1);
    m_fanout = Fanout(m_dirs, shape.depth);
    m_seed = shape.seed.value_or(fallbackSeed);
    m_idBase = (1 + Hash(m_seed, 0, 0, kIdSalt) % 255) << kIdShift;
    const SyntheticEntry root = RootEntry();
    m_rootNode = MakeNode(root.attrs, {});
    // The node holds no entries, so its text is made now, with the generated directory's count.
    m_rootNode->json.Get(
        [&] { return RenderEntry(root.attrs, root.childCount, "/" + kRootName + "/", kRootName); });
}

bool Synthetic::Covers(const Names& names) const {
    return Enabled() && !names.empty() && names.front() == kRootName;
}

bool Synthetic::Covers(const std::string& path) const {
    const auto names = ParsePath(path);
    return names && Covers(*names);
}

std::optional<SyntheticEntry> Synthetic::Find(const Names& names) const {
    if (!Covers(names)) return std::nullopt;
    SyntheticEntry entry = RootEntry();
    for (size_t at = 1; at < names.size(); ++at) {
        if (entry.attrs.type != FileType::Directory) return std::nullopt;
        const auto index = IndexOf(entry.directory, names[at]);
        if (!index || Name(entry.directory, *index) != names[at]) return std::nullopt;
        entry = Entry(entry.directory, *index);
    }
    return entry;
}

std::optional<Names> Synthetic::DirectoryNames(uint64_t id) const {
    if (!Enabled() || id < m_idBase || id - m_idBase >= m_dirs) return std::nullopt;
    Names names;
    for (uint64_t directory = id - m_idBase; directory != 0;) {
        const uint64_t parent = (directory - 1) / m_fanout;
        const uint64_t index = SubdirectoryIndex(ChildDirectories(parent), EntryCount(parent),
                                                 directory - FirstChild(parent));
        names.push_back(Name(parent, index));
        directory = parent;
    }
    names.push_back(kRootName);
    std::reverse(names.begin(), names.end());
    return names;
}

uint64_t Synthetic::EntryCount(uint64_t directory) const {
    return ChildDirectories(directory) + Leaves(directory);
}

SyntheticEntry Synthetic::Entry(uint64_t directory, uint64_t index) const {
    const Slot slot = SlotAt(directory, index);
    const FileType type = TypeAt(directory, index, slot);
    const uint64_t id = slot.directory ? m_idBase + slot.number
                                       : m_idBase + m_dirs + LeavesBefore(directory) + slot.number;
    SyntheticEntry entry;
    entry.name = MakeName(directory, index, type, EntryCount(directory));
    entry.attrs = DrawnAttributes(Hash(m_seed, directory, index, kEntrySalt), type, id);
    if (slot.directory) {
        entry.directory = slot.number;
        entry.childCount = EntryCount(slot.number);
    }
    return entry;
}

std::string Synthetic::Name(uint64_t directory, uint64_t index) const {
    return MakeName(directory, index, TypeAt(directory, index, SlotAt(directory, index)),
                    EntryCount(directory));
}

// Names sort in index order, so bisection finds the place of any text, a name or not.
uint64_t Synthetic::FirstAfter(uint64_t directory, std::string_view name) const {
    uint64_t low = 0;
    uint64_t high = EntryCount(directory);
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        if (Name(directory, middle) > name) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

NodePtr Synthetic::Grafted(const NodePtr& root) const {
    if (!Enabled()) return root;
    Children children = *root->children;
    const auto at = std::lower_bound(children.begin(), children.end(), kRootName,
                                     [](const Children::value_type& entry, const std::string& key) {
                                         return entry.first < key;
                                     });
    if (at != children.end() && at->first == kRootName) {
        at->second = m_rootNode;
    } else {
        children.emplace(at, kRootName, m_rootNode);
    }
    return MakeNode(root->attrs, std::move(children));
}

uint64_t Synthetic::FirstChild(uint64_t directory) const {
    const Wide first = Wide{m_fanout} * directory + 1;
    return first >= m_dirs ? m_dirs : static_cast<uint64_t>(first);
}

uint64_t Synthetic::ChildDirectories(uint64_t directory) const {
    return std::min(m_fanout, m_dirs - FirstChild(directory));
}

uint64_t Synthetic::BaseLeaves(uint64_t directory) const {
    return m_leaves / m_dirs + (directory < m_leaves % m_dirs ? 1 : 0);
}

uint64_t Synthetic::Leaves(uint64_t directory) const {
    const uint64_t first = directory - directory % 2;
    if (first + 1 >= m_dirs) return BaseLeaves(directory);  // the last one has no partner
    const uint64_t pair = BaseLeaves(first) + BaseLeaves(first + 1);
    const uint64_t quarter = pair / 4;
    const uint64_t share = quarter + Hash(m_seed, first, 0, kSplitSalt) % (pair - 2 * quarter + 1);
    return directory == first ? share : pair - share;
}

uint64_t Synthetic::LeavesBefore(uint64_t directory) const {
    const uint64_t first = directory - directory % 2;
    const uint64_t even = first * (m_leaves / m_dirs) + std::min(first, m_leaves % m_dirs);
    return directory == first ? even : even + Leaves(first);
}

uint64_t Synthetic::LeavesBeforeEntry(uint64_t directory, uint64_t index) const {
    return index - SubdirectoriesBefore(ChildDirectories(directory), EntryCount(directory), index);
}

// The first index with more than `leaf` leaves up to and including it.
uint64_t Synthetic::LeafEntry(uint64_t directory, uint64_t leaf) const {
    uint64_t low = leaf;
    uint64_t high = leaf + ChildDirectories(directory);
    while (low < high) {
        const uint64_t middle = low + (high - low) / 2;
        if (LeavesBeforeEntry(directory, middle + 1) > leaf) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

bool Synthetic::IsLeaf(uint64_t directory, uint64_t index) const {
    return !SlotAt(directory, index).directory;
}

std::optional<uint64_t> Synthetic::IndexOf(uint64_t directory, std::string_view name) const {
    const uint64_t entries = EntryCount(directory);
    const size_t width = NameWidth(entries);
    const std::string_view digits = name.substr(0, width);
    if (name.size() <= width || digits.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const uint64_t index = std::stoull(std::string(digits));
    return index < entries ? std::optional<uint64_t>(index) : std::nullopt;
}

uint64_t Synthetic::Draw(uint64_t salt, uint64_t first, uint64_t second) const {
    return Hash(m_seed, first, second, static_cast<Salt>(kOtherSalts + salt));
}

Synthetic::Slot Synthetic::SlotAt(uint64_t directory, uint64_t index) const {
    const uint64_t k = ChildDirectories(directory);
    const uint64_t entries = EntryCount(directory);
    const uint64_t before = SubdirectoriesBefore(k, entries, index);
    if (before < k && SubdirectoryIndex(k, entries, before) == index) {
        return {true, FirstChild(directory) + before};
    }
    return {false, index - before};
}

FileType Synthetic::TypeAt(uint64_t directory, uint64_t index, const Slot& slot) const {
    if (slot.directory) return FileType::Directory;
    return Hash(m_seed, directory, index, kEntrySalt) % kSymlinkOdds == 0 ? FileType::Symlink
                                                                          : FileType::File;
}

std::string Synthetic::MakeName(uint64_t directory, uint64_t index, FileType type,
                                uint64_t entries) const {
    const uint64_t draw = Mix(Hash(m_seed, directory, index, kEntrySalt) ^ 6);
    const std::string digits = std::to_string(index);
    std::string name(NameWidth(entries) - digits.size(), '0');
    name += digits;
    name += Pick(kSeparators, draw);
    switch (type) {
        case FileType::Directory:
            name += Pick(kDirectoryWords, draw >> 8);
            break;
        case FileType::Symlink:
            name += Pick(kLinkWords, draw >> 8);
            break;
        case FileType::File:
            name += Pick(kFileWords, draw >> 8);
            name += Pick(kExtensions, draw >> 16);
            break;
    }
    return name;
}

SyntheticEntry Synthetic::RootEntry() const {
    SyntheticEntry root;
    root.name = kRootName;
    root.attrs =
        DrawnAttributes(Hash(m_seed, kNoDirectory, 0, kRootSalt), FileType::Directory, m_idBase);
    root.childCount = EntryCount(0);
    root.directory = 0;
    return root;
}

}  // namespace clustersim
