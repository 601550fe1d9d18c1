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

    // False with the reason for a shape that cannot be made; no files is no tree, and fine.
    static bool Check(const SyntheticTree& shape, std::string* error);

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

  private:
    struct Slot {
        bool directory = false;
        uint64_t number = 0;  // the directory's number, or the leaf's index in its directory
    };

    uint64_t ChildDirectories(uint64_t directory) const;
    uint64_t FirstChild(uint64_t directory) const;
    uint64_t BaseLeaves(uint64_t directory) const;
    uint64_t Leaves(uint64_t directory) const;
    uint64_t LeavesBefore(uint64_t directory) const;
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
