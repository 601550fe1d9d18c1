#include "TreeWalk.h"

#include <unistd.h>

#include <chrono>
#include <memory>
#include <vector>

#include "ExitStatus.h"
#include "Failure.h"
#include "Signals.h"
#include "WalkReport.h"

namespace clusterctl {
namespace {

// The walk's start, its id read first: a missing or unreadable start fails the command as
// `ls` would, with its own status, before any checkpoint is made. Attributes are read live
// only, so a snapshot's start is checked by its first listing.
CZuError StartUnit(CommandContext& context, const std::string& path, int snapshotId,
                   clusterwalk::WalkUnit& unit) {
    unit = clusterwalk::RootUnit(path, snapshotId);
    if (snapshotId != 0) return CZuError::Success();
    Cluster::CFileSystemQueries files = context.session.Files();
    Cluster::CFileAttributeInfo info;
    CZuError error = context.session.Run(clusterwalk::RequestKind::Get,
                                         [&] { return files.GetFileAttributes(path, info, 0); });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    if (!info.isDirectory) throw Failure(kExitFailure, path + " is not a directory");
    unit.id = info.id;
    return CZuError::Success();
}

// Loads an earlier run's checkpoint for this one: the outputs and the consumer go back to
// where they stood then.
clusterwalk::WalkTotals Resume(clusterwalk::CTreeWalker& walker, ResumableRun& run) {
    clusterwalk::CheckpointHeader header;
    std::string error;
    if (!walker.LoadCheckpoint(run.File(), header, error)) throw Failure(kExitFailure, error);
    run.Restore(header.note);
    return header.totals;
}

// The run's status once the walk ended; throws Failure for any but success.
void Judge(const clusterwalk::WalkSummary& summary, const ResumableRun& run) {
    run.JudgeSignal();
    if (!summary.error.empty())
        throw Failure(kExitIncomplete, "walk ended: " + summary.error + run.ResumeHint());
    if (!summary.Complete()) {
        throw Failure(kExitIncomplete, std::to_string(summary.failed.size()) + " director" +
                                           (summary.failed.size() == 1 ? "y" : "ies") +
                                           " could not be read" + run.ResumeHint());
    }
    if (!summary.loops.empty()) {
        throw Failure(kExitFailure, "the walk met " + std::to_string(summary.loops.size()) +
                                        " file system loop(s) and did not enter them");
    }
}

}  // namespace

CZuError RunTreeWalk(CommandContext& context, const WalkCommandOptions& options,
                     const std::string& command, const std::string& path, int snapshotId,
                     size_t maxDepth, WalkConsumer& consumer, WalkOutput& output) {
    ResumableRun run(context, options, command, {&output}, consumer);
    std::unique_ptr<clusterwalk::CTreeWalker> walker = context.session.NewWalker(options.parallel);
    clusterwalk::WalkOptions walkOptions;
    walkOptions.maxDepth = maxDepth;
    std::vector<clusterwalk::WalkUnit> start;
    if (run.Resuming()) {
        walkOptions.earlier = Resume(*walker, run);
    } else {
        start.emplace_back();
        CZuError error = StartUnit(context, path, snapshotId, start.back());
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        run.StartAfresh();
    }
    walkOptions.checkpoint = run.Checkpoint();
    if (walkOptions.checkpoint != nullptr) {
        walkOptions.checkpointInterval = run.Interval();
        walkOptions.commit = run.Commit();
    }
    auto sink = [&](std::list<Cluster::CDirectoryEntry>& entries) {
        run.Deliver([&] { consumer.Take(entries); });
    };
    const auto started = std::chrono::steady_clock::now();
    clusterwalk::WalkSummary summary;
    run.Run([&] { context.progress.UpdateWalk(walker->Progress()); },
            [&] { summary = walker->Walk(std::move(start), sink, walkOptions); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const bool finished = summary.Complete() && NotedSignal() == 0;
    if (NotedSignal() == 0) consumer.Finish(finished);
    FlushOutput(output.Stream());
    if (finished) run.RemoveCheckpoint();
    if (!options.summaryFile.empty()) WriteSummaryFile(options.summaryFile, summary, seconds);
    ReportWalk(summary, seconds, isatty(STDERR_FILENO) != 0);
    Judge(summary, run);
    return CZuError::Success();
}

}  // namespace clusterctl
