// Where `clusterctl changes` writes each change and as what: rows in the chosen form, or for
// --paths-only a bare path list, one a line or NUL-terminated; deletions to a file of their
// own with --deleted-to; paths relative to the source directory with --relative. The rows
// written so far are the state a checkpoint keeps.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "ClusterWalk/ChangeFeed.h"
#include "Output.h"
#include "ResumableState.h"

namespace clusterctl {

// One destination of the rows: a listing in the chosen form, or bare lines of paths.
class RowDestination {
  public:
    RowDestination(std::ostream& out, const OutputOptions& output, bool pathLines);
    void Add(const clusterwalk::ChangeRecord& change, const std::string& path);
    // Throws OutputError.
    void Flush();
    uint64_t Rows() const { return m_rows; }
    void Resume(uint64_t rows);
    void Finish();

  private:
    std::ostream& m_out;
    const OutputOptions& m_output;
    std::optional<Listing> m_listing;  // none: path lines
    std::string m_lines;
    uint64_t m_rows = 0;
};

class ChangeWriter : public ResumableState {
  public:
    // `deletedOut` null: deletions go to `out` too. `pathLines`: paths one a line, which must
    // not hold a control byte. `sourceDirectory` non-empty: paths are written relative to it.
    ChangeWriter(std::ostream& out, std::ostream* deletedOut, const OutputOptions& output,
                 bool pathLines, std::string sourceDirectory);

    // A batch is checked whole before any of it is written, so a path that cannot be written
    // fails the run (Failure) with nothing of its batch out. Throws OutputError too.
    void Take(std::vector<clusterwalk::ChangeRecord>& changes);
    std::string SaveState() override;
    void RestoreState(const std::string& state) override;
    // Only once the feed is complete: a JSON listing cut short stays unclosed, so it never
    // parses as a whole one.
    void Finish();

  private:
    std::string Shown(const std::string& path) const;
    RowDestination& Destination(const clusterwalk::ChangeRecord& change);

    const bool m_pathLines;
    const std::string m_source;
    RowDestination m_main;
    std::optional<RowDestination> m_deleted;
};

}  // namespace clusterctl
