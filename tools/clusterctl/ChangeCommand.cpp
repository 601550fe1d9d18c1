// `clusterctl changes` (declared in Commands.h): the change feed between two snapshots inside
// a resumable run (ResumableRun.h), its records written as rows or as a bare path list.
#include <unistd.h>

#include <chrono>
#include <list>
#include <memory>
#include <optional>

#include "ChangeReport.h"
#include "ChangeRows.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "ResumableRun.h"
#include "Signals.h"
#include "SnapshotArgument.h"
#include "TerminalText.h"
#include "UsageError.h"
#include "WholeNumber.h"

namespace clusterctl {
namespace {

// One destination of the rows: a listing in the chosen form, or, for --paths-only without -0,
// bare lines of paths as rsync --files-from reads them.
class RowDestination {
  public:
    RowDestination(std::ostream& out, const OutputOptions& output, bool pathLines)
        : m_out(out), m_output(output) {
        if (!pathLines) m_listing.emplace(out, output, Prototype(output), true);
    }

    void Add(const clusterwalk::ChangeRecord& change, const std::string& path) {
        ++m_rows;
        if (!m_listing) {
            m_lines += path + '\n';
            return;
        }
        if (m_output.format == Format::Paths) {
            m_listing->Add({TextField("path", path)});
            return;
        }
        Fields fields = ChangeRecordFields(change, m_output);
        fields.back().text = path;
        m_listing->Add(std::move(fields));
    }
    void Flush() {
        if (!m_listing) {
            m_out.write(m_lines.data(), static_cast<std::streamsize>(m_lines.size()));
            m_lines.clear();
            FlushOutput(m_out);
            return;
        }
        m_listing->Flush();
    }
    uint64_t Rows() const { return m_rows; }
    void Resume(uint64_t rows) {
        m_rows = rows;
        if (m_listing) m_listing->Resume(rows > 0);
    }
    void Finish() {
        if (m_listing) m_listing->Finish();
    }

  private:
    static Fields Prototype(const OutputOptions& output) {
        if (output.format == Format::Paths) return {TextField("path", "")};
        return ChangeRecordFields({}, output);
    }

    std::ostream& m_out;
    const OutputOptions& m_output;
    std::optional<Listing> m_listing;
    std::string m_lines;
    uint64_t m_rows = 0;
};

// Where each change goes and as what. A batch is checked whole before any of it is written,
// so a path that cannot be written fails the run with nothing of its batch half out.
class ChangeWriter : public ResumableState {
  public:
    ChangeWriter(std::ostream& out, std::ostream* deletedOut, const OutputOptions& output,
                 bool pathLines, std::string sourceDirectory)
        : m_pathLines(pathLines),
          m_source(std::move(sourceDirectory)),
          m_main(out, output, pathLines) {
        if (deletedOut != nullptr) m_deleted.emplace(*deletedOut, output, pathLines);
    }

    void Take(std::vector<clusterwalk::ChangeRecord>& changes) {
        std::vector<std::string> paths;
        paths.reserve(changes.size());
        for (const clusterwalk::ChangeRecord& change : changes) paths.push_back(Shown(change.path));
        for (size_t i = 0; i < changes.size(); ++i)
            Destination(changes[i]).Add(changes[i], paths[i]);
        m_main.Flush();
        if (m_deleted) m_deleted->Flush();
    }
    std::string SaveState() override {
        return "rows " + std::to_string(m_main.Rows()) + " " +
               std::to_string(m_deleted ? m_deleted->Rows() : 0);
    }
    void RestoreState(const std::string& state) override {
        uint64_t main = 0;
        uint64_t deleted = 0;
        const size_t gap = state.find(' ', 5);
        if (state.compare(0, 5, "rows ") != 0 || gap == std::string::npos ||
            !ReadWholeNumber(state.substr(5, gap - 5), main) ||
            !ReadWholeNumber(state.substr(gap + 1), deleted))
            throw UsageError("the checkpoint was not saved by `clusterctl changes`");
        m_main.Resume(main);
        if (m_deleted) m_deleted->Resume(deleted);
    }
    // Cut short, a JSON listing stays unclosed, so it never parses as a whole one.
    void Finish() {
        m_main.Finish();
        if (m_deleted) m_deleted->Finish();
    }

  private:
    std::string Shown(const std::string& path) const {
        std::string shown = path;
        if (!m_source.empty() && !RelativeTo(m_source, path, shown)) {
            throw Failure(kExitFailure, "change " + EscapeForTerminal(path) +
                                            " does not lie under the source directory " +
                                            EscapeForTerminal(m_source));
        }
        if (m_pathLines && !FitsOnLine(shown)) {
            throw Failure(kExitFailure,
                          "path " + EscapeForTerminal(path) +
                              " holds a line end or control byte, which a list of lines cannot "
                              "carry: use -0 for NUL-terminated paths");
        }
        return shown;
    }
    RowDestination& Destination(const clusterwalk::ChangeRecord& change) {
        return m_deleted && change.operation == Cluster::SNAPSHOT_DIFF_DELETE ? *m_deleted : m_main;
    }

    const bool m_pathLines;
    const std::string m_source;
    RowDestination m_main;
    std::optional<RowDestination> m_deleted;
};

// The first change of the difference, read straight from its first page; empty when there is
// none.
CZuError FirstChange(CommandContext& context, uint64_t older, uint64_t newer, std::string& path) {
    Cluster::CSnapshotQueries snapshots = context.session.Snapshots();
    std::list<Cluster::CSnapshotDiffInfo> changes;
    std::string next;
    CZuError error = context.session.Run(clusterwalk::RequestKind::Get, [&] {
        changes.clear();
        return snapshots.GetSnapshotDiff(older, newer, changes, next, "");
    });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    path = changes.empty() ? "" : changes.front().path;
    return CZuError::Success();
}

CZuError SourceFileId(CommandContext& context, uint64_t snapshotId, uint64_t& fileId) {
    Cluster::CSnapshotQueries snapshots = context.session.Snapshots();
    std::list<Cluster::CSnapshotInfo> list;
    CZuError error = context.session.Run(clusterwalk::RequestKind::Get, [&] {
        list.clear();
        return snapshots.ListSnapshots(list);
    });
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    for (const Cluster::CSnapshotInfo& snapshot : list) {
        if (snapshot.id == snapshotId) {
            fileId = snapshot.sourceFileId;
            return CZuError::Success();
        }
    }
    throw Failure(kExitNotFound, "snapshot " + std::to_string(snapshotId) + " is gone");
}

// The snapshot's record names its source by file id only: the live directories above the
// first change are asked for theirs, nearest first. Empty when the difference is.
CZuError FindSourceDirectory(CommandContext& context, uint64_t older, uint64_t newer,
                             std::string& directory) {
    std::string first;
    CZuError error = FirstChange(context, older, newer, first);
    if (error.IsError() || first.empty()) return error;
    uint64_t sourceId = 0;
    error = SourceFileId(context, newer, sourceId);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    Cluster::CFileSystemQueries files = context.session.Files();
    for (const std::string& candidate : EnclosingDirectories(first)) {
        const std::string asked =
            candidate.size() > 1 ? candidate.substr(0, candidate.size() - 1) : candidate;
        Cluster::CFileAttributeInfo info;
        error = context.session.Run(clusterwalk::RequestKind::Get,
                                    [&] { return files.GetFileAttributes(asked, info, 0); });
        if (error.IsError() && context.session.LastOutcome().httpStatus == 404) continue;
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        if (info.id == sourceId) {
            directory = candidate;
            return CZuError::Success();
        }
    }
    throw Failure(kExitNotFound, "--relative: no live directory above " + EscapeForTerminal(first) +
                                     " has the file id " + std::to_string(sourceId) +
                                     " of the snapshot's source: it may have been moved or "
                                     "deleted since");
}

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

void CheckForm(const ChangesOptions& options, const OutputOptions& output) {
    if (!options.pathsOnly) return;
    if ((output.format != Format::Table && output.format != Format::Paths) ||
        !output.fields.empty())
        throw UsageError("--paths-only writes paths alone: it takes neither -o nor --fields");
}

}  // namespace

CZuError ListChanges(CommandContext& context, const ChangesOptions& options) {
    CheckForm(options, context.output);
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
