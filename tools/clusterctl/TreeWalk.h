// What the walking commands (find, du, ls -R) share: the walker over --parallel connections;
// checkpoints (--checkpoint, --resume) committed together with the output file
// (--output-file), so a resumed run writes every entry the interrupted one had not, and none
// twice; the summary (--summary); progress on a terminal; and the exit statuses: 7 when part of
// the walk failed, 130 and 143 after saving a final checkpoint when interrupted or terminated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "ClusterWalk/WalkUnit.h"
#include "Commands.h"

namespace clusterctl {

// What a command makes of the entries, a page at a time.
class WalkConsumer {
  public:
    virtual ~WalkConsumer() = default;
    // One call at a time. May throw OutputError.
    virtual void Take(std::list<Cluster::CDirectoryEntry>& entries) = 0;
    // What a checkpoint keeps besides the output, and its reverse before a resumed walk.
    // RestoreState throws UsageError when the text is not one SaveState made.
    virtual std::string SaveState() = 0;
    virtual void RestoreState(const std::string& state) = 0;
    // After the walk: `complete` false when part of it failed or it was stopped.
    virtual void Finish(bool complete) = 0;
};

// Where the rows go: stdout, or a file locked for this run, so a second run on it fails at
// once instead of interleaving with this one.
class WalkOutput {
  public:
    // Throws Failure when the file cannot be opened or another run holds it.
    explicit WalkOutput(std::string file);
    ~WalkOutput();
    WalkOutput(const WalkOutput&) = delete;
    WalkOutput& operator=(const WalkOutput&) = delete;

    std::ostream& Stream();
    bool ToFile() const { return m_descriptor >= 0; }
    const std::string& File() const { return m_file; }
    uint64_t Size() const;
    // Flushes what was written (to the disk, for a file); the bytes written so far.
    uint64_t Commit();
    // Drops what follows the first `bytes`: what was written after the checkpoint resumed.
    void Truncate(uint64_t bytes);

  private:
    std::string m_file;
    int m_descriptor = -1;
    std::ofstream m_stream;
};

// Walks from `path` (of the snapshot `snapshotId`, 0: live), entries at most `maxDepth` below
// it, handing them to `consumer`. `identity` names what is walked and how ("find /a --name
// x"): a checkpoint resumes only the walk it was saved for. Throws Failure for the statuses
// above and UsageError for a checkpoint that does not fit.
CZuError RunTreeWalk(CommandContext& context, const WalkCommandOptions& options,
                     const std::string& identity, const std::string& path, int snapshotId,
                     size_t maxDepth, WalkConsumer& consumer, WalkOutput& output);

}  // namespace clusterctl
