// `clusterctl changes` (declared in Commands.h): the change feed between two snapshots inside
// a resumable run (ResumableRun.h), its records written as rows or as a bare path list.
#include <unistd.h>

#include <chrono>
#include <memory>

#include "ChangeReport.h"
#include "ChangeSource.h"
#include "ChangeWriter.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "ResumableRun.h"
#include "Signals.h"
#include "SnapshotArgument.h"
#include "UsageError.h"

namespace clusterctl {
namespace {

std::string Identity(const ChangesOptions& options, uint64_t older, uint64_t newer) {
    return "changes " + std::to_string(older) + " " + std::to_string(newer) +
           (options.pathsOnly ? " --paths-only" : "") + (options.relative ? " --relative" : "") +
           (options.deletedTo.empty() ? "" : " --deleted-to " + options.deletedTo);
}

// The run's status once the feed ended; throws Failure for any but success.
void Judge(const clusterwalk::ChangeSummary& summary, const ResumableRun& run) {
    run.JudgeSignal();
    if (!summary.error.empty())
        throw Failure(kExitIncomplete,
                      "the change feed ended: " + summary.error + run.ResumeHint());
    if (!summary.Complete())
        throw Failure(kExitIncomplete, "the change feed was stopped" + run.ResumeHint());
}

}  // namespace

void CheckChangesForm(const ChangesOptions& options, const OutputOptions& output) {
    if (!options.pathsOnly) return;
    if ((output.format != Format::Table && output.format != Format::Paths) ||
        !output.fields.empty())
        throw UsageError("--paths-only writes paths alone: it takes neither -o nor --fields");
}

CZuError ListChanges(CommandContext& context, const ChangesOptions& options) {
    std::vector<uint64_t> ids;
    CZuError error = ResolveSnapshots(context.session, {options.older, options.newer}, ids);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    std::string source;
    if (options.relative) error = FindSourceDirectory(context, ids[0], ids[1], source);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);

    WalkOutput output(options.walk.outputFile);
    std::unique_ptr<WalkOutput> deleted;
    std::vector<WalkOutput*> outputs{&output};
    if (!options.deletedTo.empty()) {
        deleted = std::make_unique<WalkOutput>(options.deletedTo);
        outputs.push_back(deleted.get());
    }
    const bool pathLines = options.pathsOnly && context.output.format == Format::Table;
    ChangeWriter writer(output.Stream(), deleted ? &deleted->Stream() : nullptr, context.output,
                        pathLines, source);
    ResumableRun run(context, options.walk, Identity(options, ids[0], ids[1]), outputs, writer);
    std::unique_ptr<clusterwalk::CChangeFeed> feed =
        context.session.NewChangeFeed(options.walk.parallel);
    clusterwalk::ChangeFeedOptions feedOptions;
    feedOptions.attributes = !options.pathsOnly && context.output.format != Format::Paths;
    if (run.Resuming()) {
        clusterwalk::ChangeCheckpoint checkpoint;
        std::string reason;
        if (!feed->LoadCheckpoint(run.File(), checkpoint, reason))
            throw Failure(kExitFailure, reason);
        run.Restore(checkpoint.note);
        feedOptions.earlier = checkpoint.totals;
    } else {
        run.StartAfresh();
    }
    feedOptions.checkpoint = run.Checkpoint();
    if (feedOptions.checkpoint != nullptr) {
        feedOptions.checkpointInterval = run.Interval();
        feedOptions.commit = run.Commit();
    }
    auto sink = [&](std::vector<clusterwalk::ChangeRecord>& changes) {
        run.Deliver([&] { writer.Take(changes); });
    };
    const auto started = std::chrono::steady_clock::now();
    clusterwalk::ChangeSummary summary;
    run.Run([&] { context.progress.UpdateChanges(feed->Progress()); },
            [&] { summary = feed->Run(ids[0], ids[1], sink, feedOptions); });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const bool finished = summary.Complete() && NotedSignal() == 0;
    if (finished) {
        writer.Finish();
        run.RemoveCheckpoint();
    }
    if (!options.walk.summaryFile.empty())
        WriteChangeSummaryFile(options.walk.summaryFile, summary, seconds);
    ReportChanges(summary, seconds, isatty(STDERR_FILENO) != 0);
    Judge(summary, run);
    return CZuError::Success();
}

}  // namespace clusterctl
