// The tree under /synthetic, generated on demand: every entry is a pure function of (seed,
// directory number, entry index), so nothing of it is stored and any page of any directory is
// made directly, in time proportional to the page.
//
// Shape. Directories are numbered breadth first: /synthetic is 0 and the subdirectories of
// directory d are F*d+1 ... F*d+F (those below `dirs`), F being the smallest fanout from 2 up
// that holds every directory within `depth` levels. The parent of d is (d-1)/F. The files and
// symlinks ("leaves", files - (dirs - 1) of them) are dealt out evenly, then each pair of
// directories (2p, 2p+1) splits its share again at a seeded point between a quarter and three
// quarters; a pair keeps its sum, so the leaves before any directory are still a closed form.
// Within a directory of T entries of which k are subdirectories, subdirectory j sits at index
// floor((2j+1)T/2k), spread among the leaves.
//
// Names are the entry index, zero-padded to the width of the directory's largest index (at
// least 4), then a seeded separator, word and extension: fixed-width digits first make name
// order index order, so a page "after" a name starts at an index found by bisection, and a
// name is found again by reading its digits. Ids: the directory with number d has id B + d,
// leaf l of the whole tree (counted directory by directory) B + dirs + l, B being a seeded
// multiple of 2^44, far above the ids the live tree hands out and below 2^53.
//
// Changes (SyntheticChanges.h). With changes=N, snapshot "synthetic-base" (id 2000000001) sees
// the tree above and "synthetic-target" (id 2000000002) sees it with N changes applied; both
// ids fit a signed 32-bit number and lie far beyond the ids the snapshot store hands out, which
// skips them. The active directories are a contiguous run of ceil(locality * dirs) directory
// numbers from a seeded start; their Lr leaves, in directory-number then entry order, are the
// change slots, and change i (0 <= i < N <= Lr, in diff order) sits at slot floor(i * Lr / N),
// so each change has a leaf of its own and a directory's changes come one after another. By
// i mod 10: 0, 1 create a file and 2 an empty directory, named after the slot's leaf with
// "-new" (and an extension, for a file) added, so it sorts right after that leaf, with id
// B + 2^43 + i; 3, 4 delete the leaf; 5, 6, 7 modify its content (size, modification and change
// time); 8, 9 its metadata only (mode, owner, group, change time). Directories are never
// reported as modified, though their entries change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ClusterSim.h"
#include "FileTree.h"

namespace clustersim {

struct SyntheticEntry {
    std::string name;
    Attributes attrs;
    uint64_t childCount = 0;  // entries in it, for a directory
    uint64_t directory = 0;   // its number, for a directory
};

class Synthetic {
  public:
    static constexpr uint64_t kMaxFiles = 1000000000000;  // a trillion
    static constexpr unsigned kMaxDepth = 255;
    static constexpr uint64_t kBaseSnapshotId = 2000000001;
    static constexpr uint64_t kTargetSnapshotId = 2000000002;
    // The number of a directory that only the changes made: it holds nothing.
    static constexpr uint64_t kCreatedDirectory = ~uint64_t{0};

    // False with the reason for a shape that cannot be made, or cannot hold its changes; no
    // files is no tree, and fine. `fallbackSeed` as for the constructor: where the changes
    // go depends on the seed.
    static bool Check(const SyntheticTree& shape, uint64_t fallbackSeed, std::string* error);

    // `fallbackSeed` serves when the shape has no seed. A shape that fails Check makes no tree.
    Synthetic(const SyntheticTree& shape, uint64_t fallbackSeed);

    bool Enabled() const { return m_files > 0; }
    // Whether the names are /synthetic or below it, while there is a synthetic tree.
    bool Covers(const Names& names) const;
    bool Covers(const std::string& path) const;

    std::optional<SyntheticEntry> Find(const Names& names) const;  // nullopt when absent
    // The path of the directory with that id; nullopt for any other id.
    std::optional<Names> DirectoryNames(uint64_t id) const;

    uint64_t EntryCount(uint64_t directory) const;
    // Entry `index` (below EntryCount) of the directory, in name order.
    SyntheticEntry Entry(uint64_t directory, uint64_t index) const;
    std::string Name(uint64_t directory, uint64_t index) const;
    // The index of the first entry whose name sorts after `name` in byte order.
    uint64_t FirstAfter(uint64_t directory, std::string_view name) const;

    // `root` with /synthetic among its entries (in place of any real one), for "/" itself.
    NodePtr Grafted(const NodePtr& root) const;

    // What the changes are made from.
    uint64_t Directories() const { return m_dirs; }
    uint64_t Seed() const { return m_seed; }
    uint64_t IdBase() const { return m_idBase; }
    // The leaves (files and symlinks) of the directories numbered below `directory` (which
    // may be Directories()).
    uint64_t LeavesBefore(uint64_t directory) const;
    // The leaves of the directory before entry `index` (which may be EntryCount).
    uint64_t LeavesBeforeEntry(uint64_t directory, uint64_t index) const;
    // The entry index of the directory's leaf number `leaf`.
    uint64_t LeafEntry(uint64_t directory, uint64_t leaf) const;
    bool IsLeaf(uint64_t directory, uint64_t index) const;
    // The entry whose name has the digits `name` starts with; nullopt when none has.
    std::optional<uint64_t> IndexOf(uint64_t directory, std::string_view name) const;
    // A seeded draw, for anything else made of the tree's seed.
    uint64_t Draw(uint64_t salt, uint64_t first, uint64_t second) const;
    // Seeded sizes and times from `draw`, as every generated entry has them.
    static Attributes DrawnAttributes(uint64_t draw, FileType type, uint64_t id);

  private:
    struct Slot {
        bool directory = false;
        uint64_t number = 0;  // the directory's number, or the leaf's index in its directory
    };

    uint64_t ChildDirectories(uint64_t directory) const;
    uint64_t FirstChild(uint64_t directory) const;
    uint64_t BaseLeaves(uint64_t directory) const;
    uint64_t Leaves(uint64_t directory) const;
    Slot SlotAt(uint64_t directory, uint64_t index) const;
    FileType TypeAt(uint64_t directory, uint64_t index, const Slot& slot) const;
    std::string MakeName(uint64_t directory, uint64_t index, FileType type, uint64_t entries) const;
    SyntheticEntry RootEntry() const;

    uint64_t m_files = 0;
    uint64_t m_dirs = 1;
    uint64_t m_leaves = 0;
    uint64_t m_fanout = 2;
    uint64_t m_seed = 0;
    uint64_t m_idBase = 0;
    NodePtr m_rootNode;  // /synthetic as an entry of "/"
};

}  // namespace clustersim
