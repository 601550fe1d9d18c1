// The generated changes between the snapshots "synthetic-base" and "synthetic-target" of
// /synthetic (Synthetic.h gives the scheme). Each is a pure function of its number, so a
// million of them cost no memory and any page of them is made in time proportional to the page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ClusterSim.h"
#include "Synthetic.h"
#include "TreeDiff.h"

namespace clustersim {

// Which tree a snapshot of /synthetic sees: snapshots that clients take see the base.
enum class SyntheticVersion { Base, Target };

enum class ChangeKind { CreateFile, CreateDirectory, Delete, ContentModify, MetadataModify };

struct SyntheticChange {
    uint64_t number = 0;  // its place in diff order
    ChangeKind kind = ChangeKind::CreateFile;
    uint64_t directory = 0;
    uint64_t index = 0;  // of the leaf it is at, in the directory's base listing
};

class SyntheticChanges {
  public:
    // 2028-01-01T00:00:00Z and a day later: after every time of the base tree, so the changed
    // times lie between the two snapshots.
    static constexpr int64_t kBaseTime = 1830297600LL * 1000000000;
    static constexpr int64_t kTargetTime = kBaseTime + 86400LL * 1000000000;

    // False with the reason when the shape's locality is out of range or its active
    // directories have fewer leaves than it has changes.
    static bool Check(const Synthetic& tree, const SyntheticTree& shape, std::string* error);

    // A shape that fails Check makes no changes. `tree` must outlive this.
    SyntheticChanges(const Synthetic& tree, const SyntheticTree& shape);

    uint64_t Count() const { return m_count; }
    SyntheticChange At(uint64_t number) const;
    // The change at that entry of the base tree; nullopt when it has none.
    std::optional<SyntheticChange> AtEntry(uint64_t directory, uint64_t index) const;
    // The number of the first change at entry `index` of the directory or after it (Count()
    // when there is none); `index` may be the directory's entry count.
    uint64_t FirstFrom(uint64_t directory, uint64_t index) const;
    // How many of the changes numbered [begin, end) create an entry, and how many delete one.
    static uint64_t Creates(uint64_t begin, uint64_t end);
    static uint64_t Deletes(uint64_t begin, uint64_t end);
    static ChangeKind KindOf(uint64_t number);

    // The base entry `entry` as a modifying change leaves it.
    SyntheticEntry Modified(const SyntheticChange& change, SyntheticEntry entry) const;
    // The entry a creating change makes.
    SyntheticEntry Created(const SyntheticChange& change) const;
    std::string CreatedName(const SyntheticChange& change) const;

    // Changes [begin, end) as changes-since reports them; `inverse` swaps creates and
    // deletes, for the base since the target.
    std::vector<Change> Page(uint64_t begin, uint64_t end, bool inverse) const;

  private:
    uint64_t SlotOf(uint64_t number) const;     // floor(number * room / count)
    uint64_t FirstAtSlot(uint64_t slot) const;  // ceil(slot * count / room)
    std::string Path(const SyntheticChange& change) const;

    const Synthetic& m_tree;
    uint64_t m_firstDirectory = 0;  // the active run of directories
    uint64_t m_endDirectory = 0;
    uint64_t m_firstLeaf = 0;  // the leaves before the run
    uint64_t m_room = 0;       // the leaves in it
    uint64_t m_count = 0;
};

}  // namespace clustersim
