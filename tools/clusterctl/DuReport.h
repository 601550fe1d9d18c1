// What `clusterctl du` reports: bytes and entries below each directory of a tree, tallied from
// a walk that hands its entries in any order, and printed as a listing in tree order, with bars
// of each directory's share of its parent when a person reads it on a terminal.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "Output.h"

namespace clusterctl {

struct DuTotals {
    uint64_t bytes = 0;    // the sizes of the non-directories anywhere below, at most 2^64-1
    uint64_t entries = 0;  // files and directories anywhere below
};

struct DuRow {
    std::string path;  // ends in "/"
    DuTotals totals;
};

// Rows only for the directories at most `maxDepth` below the root (the root is depth 0 and
// always a row; nullopt: every directory), so memory grows with those directories, never with
// the files. Not thread-safe: the walker calls its sink one page at a time.
class DuTally {
  public:
    DuTally(const std::string& root, std::optional<unsigned> maxDepth);

    // Counts `entry` in every row above it and gives a directory its own row, empty or not.
    // Entries that are not below the root (the root itself among them) count nowhere.
    void Add(const Cluster::CDirectoryEntry& entry);

    // Parents before their children, siblings by name.
    std::vector<DuRow> Rows() const;

    // A text form for a walk's checkpoint: one line per row, every byte of a path outside
    // printable ASCII (and "%" and space) percent-escaped.
    std::string Save() const;
    // Takes the rows Save wrote for a tally of the same root and depth. On malformed text it
    // returns false with `reason` set and leaves the tally as it was.
    bool Load(const std::string& text, std::string& reason);

  private:
    // Byte order with "/" first, so that a directory's descendants follow it at once.
    struct TreeOrder {
        bool operator()(const std::string& left, const std::string& right) const;
    };
    using RowMap = std::map<std::string, DuTotals, TreeOrder>;

    std::string Header() const;
    bool ReadRows(const std::vector<std::string>& lines, RowMap& rows, std::string& reason) const;
    bool ReadRow(const std::string& line, RowMap& rows, std::string& reason) const;
    bool CheckTree(const RowMap& rows, std::string& reason) const;

    std::string m_root;  // with its trailing "/"
    std::optional<unsigned> m_maxDepth;
    RowMap m_rows;
};

// Where the report goes: bars are drawn only for a table on a terminal `columns` wide.
struct DuDisplay {
    bool terminal = false;
    unsigned columns = 80;
};

bool DrawsBars(const OutputOptions& options, const DuDisplay& display);

// A row's fields: bytes (human-readable in a table with -h), entries, the bar when given, and
// the path. A default-constructed row gives the names for CheckFields.
Fields DuFields(const DuRow& row, bool humanSizes, const std::optional<std::string>& bar);

// `portion` of `whole` as `width` cells of Unicode blocks, to an eighth of a cell, rounded down so
// that the bars of siblings never add up to more than a full one; spaces fill the rest. A
// `whole` of 0 draws no block, a `portion` above it a full bar.
std::string ShareBar(uint64_t portion, uint64_t whole, unsigned width);

// The rows of `tally` through a Listing. Throws UsageError (--fields) and OutputError.
void PrintDuReport(std::ostream& out, const OutputOptions& options, const DuTally& tally,
                   const DuDisplay& display);

}  // namespace clusterctl
