// One version of the generated tree as listings read it: the base that Synthetic makes, or
// the target, with the changes applied. In a changed directory a position counts the base
// entries left and the entries created; closed-form counts of the changes before an entry
// give its position, so a page costs its own size and one bisection, whatever the directory's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FileTree.h"
#include "Synthetic.h"
#include "SyntheticChanges.h"

namespace clustersim {

class SyntheticView {
  public:
    // Null `changes`: the base tree. Both must outlive the view.
    SyntheticView(const Synthetic& tree, const SyntheticChanges* changes);

    std::optional<SyntheticEntry> Find(const Names& names) const;  // nullopt when absent
    uint64_t EntryCount(uint64_t directory) const;
    // Entries [begin, end) of the directory, in name order; fewer at its end.
    std::vector<SyntheticEntry> Page(uint64_t directory, uint64_t begin, uint64_t end) const;
    std::string Name(uint64_t directory, uint64_t position) const;
    // The position of the first entry whose name sorts after `name` in byte order.
    uint64_t FirstAfter(uint64_t directory, std::string_view name) const;

  private:
    struct Span {  // the numbers of the directory's changes
        uint64_t first = 0;
        uint64_t end = 0;
    };
    struct Place {
        uint64_t index = 0;    // of a base entry
        bool created = false;  // the entry created right after it, rather than itself
    };

    bool Applies() const { return m_changes && m_changes->Count() > 0; }
    Span ChangesIn(uint64_t directory) const;
    uint64_t Position(uint64_t directory, const Span& span, uint64_t index) const;
    Place PlaceAt(uint64_t directory, const Span& span, uint64_t position) const;
    std::optional<SyntheticChange> ChangeAt(uint64_t directory, uint64_t index) const;
    SyntheticEntry Counted(SyntheticEntry entry) const;
    SyntheticEntry BaseEntry(uint64_t directory, uint64_t index,
                             const std::optional<SyntheticChange>& change) const;
    std::optional<SyntheticEntry> Child(const SyntheticEntry& directory,
                                        const std::string& name) const;

    const Synthetic& m_tree;
    const SyntheticChanges* m_changes;
};

}  // namespace clustersim
