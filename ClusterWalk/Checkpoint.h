// A tree walk's checkpoint (and, through SaveLines/LoadLines, the change feed's): what it had
// delivered, the caller's note about its own output, and
// the units still to do, in one text file replaced atomically. A run resumed from it delivers
// exactly what the interrupted run had not delivered by the time it was written, so a caller
// that commits its output together with the checkpoint (the note holds how far the output
// went) loses no entry and doubles none, however the process ended.
//
// The file is locked for as long as the object is open, so a second run on it fails at once
// instead of interleaving its writes with the first one's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "ClusterWalk/ClusterWalkExport.h"
#include "ClusterWalk/WalkUnit.h"

namespace clusterwalk {

// What earlier runs of a resumed walk delivered and met.
struct WalkTotals {
    uint64_t directoriesListed = 0;
    uint64_t pages = 0;
    uint64_t entries = 0;
    uint64_t bytes = 0;
    uint64_t vanished = 0;
    uint64_t loops = 0;
};

struct CheckpointHeader {
    WalkTotals totals;
    // The caller's own: e.g. how many bytes of its output file belong to the delivered entries.
    std::string note;
};

// How one kind of checkpoint is laid out: its first line, what a reader calls it, and how many
// lines follow that first one before the records the end line counts.
struct CheckpointFormat {
    const char* magic;
    const char* kind;  // e.g. "walk", for "not a walk checkpoint"
    size_t headerLines;
};

class CCheckpointFile {
  public:
    using UnitVisitor = std::function<void(const WalkUnit&)>;
    using LineVisitor = std::function<void(const std::string&)>;
    // Takes the line after the magic one numbered `index` (0 first); false, with `why`, when
    // the line is not what it should be.
    using LineReader = std::function<bool(size_t index, const std::string& line, std::string& why)>;

    CLUSTERWALK_API CCheckpointFile();
    CLUSTERWALK_API ~CCheckpointFile();
    CCheckpointFile(const CCheckpointFile&) = delete;
    CCheckpointFile& operator=(const CCheckpointFile&) = delete;

    // Takes the lock on `path` (held through "<path>.lock", which stays behind so that the
    // lock never changes files under a waiting run). False, with `error` saying why, when
    // another run holds it or the lock file cannot be made.
    CLUSTERWALK_API bool Open(const std::string& path, std::string& error);
    const std::string& Path() const { return m_path; }
    // True when a checkpoint was saved at the path (by this run or an earlier one).
    CLUSTERWALK_API bool Exists() const;

    // Reads the checkpoint, handing each unit to `unit`. False, with the line and what is wrong
    // in `error`, when the file is not a whole checkpoint.
    CLUSTERWALK_API bool Load(CheckpointHeader& header, const UnitVisitor& unit,
                              std::string& error) const;

    // Writes a new checkpoint beside the old one, syncs it and renames it over the old one, so
    // a crash at any moment leaves one whole checkpoint. `forEachUnit` is called once with a
    // visitor to call for every unit to save.
    CLUSTERWALK_API bool Save(const CheckpointHeader& header,
                              const std::function<void(const UnitVisitor&)>& forEachUnit,
                              std::string& error);

    // What Save and Load are made of, for the library's other checkpoint formats: every line
    // that `forEachLine` hands its visitor (no line breaks), under the format's magic line and
    // over an end line that counts the records after the header lines. Loading refuses a file
    // of another format, naming the line it begins with.
    bool SaveLines(const CheckpointFormat& format,
                   const std::function<void(const LineVisitor&)>& forEachLine, std::string& error);
    bool LoadLines(const CheckpointFormat& format, const LineReader& line,
                   std::string& error) const;

    // Deletes the checkpoint (not the lock file): the walk it described is done.
    CLUSTERWALK_API bool Remove(std::string& error);

  private:
    std::string m_path;
    int m_lock = -1;
};

}  // namespace clusterwalk
