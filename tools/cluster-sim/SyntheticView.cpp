#include "SyntheticView.h"

#include <algorithm>

namespace clustersim {
namespace {

bool Creates(const std::optional<SyntheticChange>& change) {
    return change &&
           (change->kind == ChangeKind::CreateFile || change->kind == ChangeKind::CreateDirectory);
}

bool Deletes(const std::optional<SyntheticChange>& change) {
    return change && change->kind == ChangeKind::Delete;
}

bool Modifies(const std::optional<SyntheticChange>& change) {
    return change && (change->kind == ChangeKind::ContentModify ||
                      change->kind == ChangeKind::MetadataModify);
}

}  // namespace

SyntheticView::SyntheticView(const Synthetic& tree, const SyntheticChanges* changes)
    : m_tree(tree), m_changes(changes) {}

std::optional<SyntheticEntry> SyntheticView::Find(const Names& names) const {
    if (!Applies() || !m_tree.Covers(names)) return m_tree.Find(names);
    std::optional<SyntheticEntry> entry = Counted(*m_tree.Find({names.front()}));
    for (size_t at = 1; entry && at < names.size(); ++at) entry = Child(*entry, names[at]);
    return entry;
}

uint64_t SyntheticView::EntryCount(uint64_t directory) const {
    if (directory == Synthetic::kCreatedDirectory) return 0;
    const uint64_t base = m_tree.EntryCount(directory);
    if (!Applies()) return base;
    const Span span = ChangesIn(directory);
    return base + SyntheticChanges::Creates(span.first, span.end) -
           SyntheticChanges::Deletes(span.first, span.end);
}

// Walks the base entries from the first one's place, adding and dropping as the changes say.
std::vector<SyntheticEntry> SyntheticView::Page(uint64_t directory, uint64_t begin,
                                                uint64_t end) const {
    std::vector<SyntheticEntry> page;
    const uint64_t count = EntryCount(directory);
    end = std::min(end, count);
    if (begin >= end) return page;
    page.reserve(end - begin);
    const uint64_t wanted = end - begin;
    const Place first = PlaceAt(directory, ChangesIn(directory), begin);
    const uint64_t entries = m_tree.EntryCount(directory);
    for (uint64_t index = first.index; index < entries && page.size() < wanted; ++index) {
        const auto change = ChangeAt(directory, index);
        const bool skipBase = index == first.index && first.created;
        if (!skipBase && !Deletes(change)) page.push_back(BaseEntry(directory, index, change));
        if (Creates(change) && page.size() < wanted) page.push_back(m_changes->Created(*change));
    }
    return page;
}

std::string SyntheticView::Name(uint64_t directory, uint64_t position) const {
    const Place place = PlaceAt(directory, ChangesIn(directory), position);
    if (!place.created) return m_tree.Name(directory, place.index);
    return m_changes->CreatedName(*ChangeAt(directory, place.index));
}

// A created name sorts between its leaf's name and the next base name.
uint64_t SyntheticView::FirstAfter(uint64_t directory, std::string_view name) const {
    if (directory == Synthetic::kCreatedDirectory) return 0;
    const uint64_t index = m_tree.FirstAfter(directory, name);
    const Span span = ChangesIn(directory);
    if (span.first == span.end) return Position(directory, span, index);
    if (index > 0) {
        const auto change = ChangeAt(directory, index - 1);
        if (Creates(change) && m_changes->CreatedName(*change) > name) {
            return Position(directory, span, index - 1) + 1;
        }
    }
    return Position(directory, span, index);
}

SyntheticView::Span SyntheticView::ChangesIn(uint64_t directory) const {
    if (!Applies() || directory == Synthetic::kCreatedDirectory) return {};
    return {m_changes->FirstFrom(directory, 0),
            m_changes->FirstFrom(directory, m_tree.EntryCount(directory))};
}

// Where the entries of base entry `index` start: the base entries before it, plus the entries
// created after them, less the ones deleted.
uint64_t SyntheticView::Position(uint64_t directory, const Span& span, uint64_t index) const {
    if (span.first == span.end) return index;
    const uint64_t before = m_changes->FirstFrom(directory, index);
    return index + SyntheticChanges::Creates(span.first, before) -
           SyntheticChanges::Deletes(span.first, before);
}

// The last base entry whose entries start at or before `position` is the one that holds it: a
// deleted entry starts where the next one does.
SyntheticView::Place SyntheticView::PlaceAt(uint64_t directory, const Span& span,
                                            uint64_t position) const {
    if (span.first == span.end) return {position, false};
    uint64_t low = 0;
    uint64_t high = m_tree.EntryCount(directory) - 1;
    while (low < high) {
        const uint64_t middle = low + (high - low + 1) / 2;
        if (Position(directory, span, middle) <= position) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return {low, Position(directory, span, low) < position};
}

std::optional<SyntheticChange> SyntheticView::ChangeAt(uint64_t directory, uint64_t index) const {
    return Applies() ? m_changes->AtEntry(directory, index) : std::nullopt;
}

// A directory's entry count as this version has it.
SyntheticEntry SyntheticView::Counted(SyntheticEntry entry) const {
    if (entry.attrs.type == FileType::Directory) entry.childCount = EntryCount(entry.directory);
    return entry;
}

SyntheticEntry SyntheticView::BaseEntry(uint64_t directory, uint64_t index,
                                        const std::optional<SyntheticChange>& change) const {
    SyntheticEntry entry = m_tree.Entry(directory, index);
    if (Modifies(change)) return m_changes->Modified(*change, std::move(entry));
    return Applies() ? Counted(std::move(entry)) : entry;
}

std::optional<SyntheticEntry> SyntheticView::Child(const SyntheticEntry& directory,
                                                   const std::string& name) const {
    if (directory.attrs.type != FileType::Directory ||
        directory.directory == Synthetic::kCreatedDirectory) {
        return std::nullopt;
    }
    const auto index = m_tree.IndexOf(directory.directory, name);
    if (!index) return std::nullopt;
    const auto change = ChangeAt(directory.directory, *index);
    if (m_tree.Name(directory.directory, *index) == name) {
        if (Deletes(change)) return std::nullopt;
        return BaseEntry(directory.directory, *index, change);
    }
    if (Creates(change) && m_changes->CreatedName(*change) == name) {
        return m_changes->Created(*change);
    }
    return std::nullopt;
}

}  // namespace clustersim
