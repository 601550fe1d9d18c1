// What the long commands (find, du, ls -R, changes) share around their engine, the tree
// walker or the change feed: the checkpoint (--checkpoint, --resume), opened and locked, told
// apart from another run's by the run's identity and output form, and committed together with
// the output files (--output-file, and any other such as --deleted-to), whose lengths its note
// keeps, so a resumed run writes every row the interrupted one had not, and none twice; the
// progress line drawn from a monitor thread, which also turns a noted SIGINT or SIGTERM into
// the job's cancellation so the engine saves a final checkpoint; and the statuses 130 and 143.
#pragma once

#include <chrono>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ClusterWalk/Checkpoint.h"
#include "Commands.h"
#include "ResumableState.h"
#include "WalkOutput.h"

namespace clusterctl {

class ResumableRun {
  public:
    // `identity` names what is run and how ("find /a --name x"); the output's form is added to
    // it. `outputs` are committed with each checkpoint, in this order. Throws Failure when the
    // checkpoint cannot be opened or is held by another run, and UsageError when it holds an
    // unfinished run and --resume was not given.
    ResumableRun(CommandContext& context, const WalkCommandOptions& options,
                 const std::string& identity, std::vector<WalkOutput*> outputs,
                 ResumableState& state);

    // Whether a saved run is gone on with: load it from File() and hand its note to Restore.
    bool Resuming() const { return m_file.Exists(); }
    const clusterwalk::CCheckpointFile& File() const { return m_file; }
    // Checks that the note was saved by this same run, cuts the outputs back to what it
    // committed and restores the state. Throws UsageError when it belongs to another run.
    void Restore(const std::string& note);
    // A run from the start: the outputs begin empty.
    void StartAfresh();

    // For the engine's options: null without --checkpoint.
    clusterwalk::CCheckpointFile* Checkpoint() {
        return m_options.checkpoint.empty() ? nullptr : &m_file;
    }
    std::chrono::milliseconds Interval() const;
    // Commits the outputs and makes the note, while the engine holds its deliveries.
    std::function<std::string()> Commit();

    // The sink's body: one delivery at a time, the progress line out of the way. A failure it
    // throws is kept, so that Run throws it again once the engine ended.
    void Deliver(const std::function<void()>& write);
    // Runs the engine (`body`) while `showProgress` is called every few tenths of a second and
    // a noted signal cancels the job; then throws what a delivery threw.
    void Run(const std::function<void()>& showProgress, const std::function<void()>& body);

    // Once the run is judged complete: the checkpoint is no longer needed.
    void RemoveCheckpoint();
    // Throws Failure with 130 or 143 when a signal was noted during the run.
    void JudgeSignal() const;
    // "; go on with --resume --checkpoint FILE", or empty without a checkpoint.
    std::string ResumeHint() const;

  private:
    CommandContext& m_context;
    const WalkCommandOptions& m_options;
    const std::string m_identity;
    const std::vector<WalkOutput*> m_outputs;
    ResumableState& m_state;
    clusterwalk::CCheckpointFile m_file;
    std::mutex m_terminal;  // deliveries and the progress line take turns on the terminal
    std::exception_ptr m_deliveryFailure;
};

// The output's form belongs to a run's identity: a resumed run must go on writing the same.
std::string OutputWords(const OutputOptions& output);

}  // namespace clusterctl
