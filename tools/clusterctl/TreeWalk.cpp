#include "TreeWalk.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <exception>
#include <iostream>
#include <mutex>
#include <thread>

#include "Diagnostics.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "Signals.h"
#include "UsageError.h"
#include "WalkReport.h"
#include "WholeNumber.h"

namespace clusterctl {
namespace {

constexpr std::chrono::milliseconds kMonitorInterval{100};
constexpr const char* kNoteTag = "clusterctl-walk 1";

std::string SystemText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// What a checkpoint's note holds: the walk it belongs to, how much of the output file the
// delivered entries filled, and the consumer's own state.
struct Note {
    std::string identity;
    uint64_t outputBytes = 0;
    std::string state;
};

std::string FormatNote(const Note& note) {
    return std::string(kNoteTag) + '\n' + note.identity + '\n' + std::to_string(note.outputBytes) +
           '\n' + note.state;
}

bool ParseNote(const std::string& text, Note& note) {
    const size_t tagEnd = text.find('\n');
    const size_t identityEnd = text.find('\n', tagEnd + 1);
    const size_t bytesEnd = text.find('\n', identityEnd + 1);
    if (bytesEnd == std::string::npos || text.compare(0, tagEnd, kNoteTag) != 0) return false;
    note.identity = text.substr(tagEnd + 1, identityEnd - tagEnd - 1);
    if (!ReadWholeNumber(text.substr(identityEnd + 1, bytesEnd - identityEnd - 1),
                         note.outputBytes))
        return false;
    note.state = text.substr(bytesEnd + 1);
    return true;
}

// Draws the progress line and turns a noted SIGINT or SIGTERM into the job's cancellation,
// which the walk answers by saving its checkpoint.
class WalkMonitor {
  public:
    WalkMonitor(CommandContext& context, clusterwalk::CTreeWalker& walker, std::mutex& terminal)
        : m_context(context), m_walker(walker), m_terminal(terminal) {
        SetWalkStoppable(true);
        m_thread = std::thread(&WalkMonitor::Run, this);
    }
    ~WalkMonitor() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
        SetWalkStoppable(false);
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_wake.wait_for(lock, kMonitorInterval, [this] { return m_done; })) {
            if (NotedSignal() != 0) m_context.session.Job().Cancel();
            std::lock_guard<std::mutex> terminal(m_terminal);
            m_context.progress.UpdateWalk(m_walker.Progress());
        }
    }

    CommandContext& m_context;
    clusterwalk::CTreeWalker& m_walker;
    std::mutex& m_terminal;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

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

void OpenCheckpoint(const std::string& path, clusterwalk::CCheckpointFile& file) {
    std::string error;
    if (!file.Open(path, error)) throw Failure(kExitFailure, error);
}

// Loads an earlier run's checkpoint for this one: the output goes back to where it stood
// then, and so does the consumer.
clusterwalk::WalkTotals Resume(clusterwalk::CTreeWalker& walker,
                               const clusterwalk::CCheckpointFile& file,
                               const std::string& identity, WalkConsumer& consumer,
                               WalkOutput& output) {
    clusterwalk::CheckpointHeader header;
    std::string error;
    if (!walker.LoadCheckpoint(file, header, error)) throw Failure(kExitFailure, error);
    Note note;
    if (!ParseNote(header.note, note))
        throw UsageError(file.Path() + " was not saved by a walk of clusterctl");
    if (note.identity != identity) {
        throw UsageError("checkpoint " + file.Path() + " belongs to another walk (" +
                         note.identity + ")");
    }
    if (output.ToFile() && output.Size() < note.outputBytes) {
        throw UsageError("output " + output.File() + " is shorter than checkpoint " + file.Path() +
                         " records: it is not the output of that walk");
    }
    output.Truncate(note.outputBytes);
    consumer.RestoreState(note.state);
    return header.totals;
}

void RemoveFinishedCheckpoint(clusterwalk::CCheckpointFile& file) {
    std::string error;
    if (!file.Remove(error)) ReportLine("warning: " + error);
}

// The output's form belongs to the walk too: a resumed run must go on writing the same.
std::string OutputWords(const OutputOptions& output) {
    static const char* const kFormats[] = {"table", "json", "jsonl", "csv", "paths"};
    std::string words = std::string(" -o ") + kFormats[static_cast<int>(output.format)];
    if (output.humanSizes) words += " -h";
    if (!output.headers) words += " --no-headers";
    for (size_t i = 0; i < output.fields.size(); ++i)
        words += (i == 0 ? " --fields " : ",") + output.fields[i];
    return words;
}

// The run's status once the walk ended; throws Failure for any but success.
void Judge(const clusterwalk::WalkSummary& summary, const WalkCommandOptions& options) {
    const int signal = NotedSignal();
    const std::string resume = options.checkpoint.empty()
                                   ? ""
                                   : "; go on with --resume --checkpoint " + options.checkpoint;
    if (signal == SIGINT) throw Failure(kExitInterrupted, "interrupted" + resume);
    if (signal == SIGTERM) throw Failure(kExitTerminated, "terminated" + resume);
    if (!summary.error.empty())
        throw Failure(kExitIncomplete, "walk ended: " + summary.error + resume);
    if (!summary.Complete()) {
        throw Failure(kExitIncomplete, std::to_string(summary.failed.size()) + " director" +
                                           (summary.failed.size() == 1 ? "y" : "ies") +
                                           " could not be read" + resume);
    }
    if (!summary.loops.empty()) {
        throw Failure(kExitFailure, "the walk met " + std::to_string(summary.loops.size()) +
                                        " file system loop(s) and did not enter them");
    }
}

}  // namespace

WalkOutput::WalkOutput(std::string file) : m_file(std::move(file)) {
    if (m_file.empty()) return;
    m_descriptor = ::open(m_file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (m_descriptor < 0) throw Failure(kExitFailure, SystemText("cannot open " + m_file));
    if (::flock(m_descriptor, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(m_descriptor);
        m_descriptor = -1;
        throw Failure(kExitFailure, held ? "output " + m_file + " is in use by another run"
                                         : SystemText("cannot lock " + m_file));
    }
}

WalkOutput::~WalkOutput() {
    if (m_stream.is_open()) m_stream.close();
    if (m_descriptor >= 0) ::close(m_descriptor);
}

std::ostream& WalkOutput::Stream() {
    return ToFile() ? static_cast<std::ostream&>(m_stream) : std::cout;
}

uint64_t WalkOutput::Commit() {
    FlushOutput(Stream());
    if (!ToFile()) return 0;
    if (::fsync(m_descriptor) != 0) throw OutputError(errno);
    const off_t end = ::lseek(m_descriptor, 0, SEEK_END);
    if (end < 0) throw OutputError(errno);
    return static_cast<uint64_t>(end);
}

uint64_t WalkOutput::Size() const {
    const off_t end = ToFile() ? ::lseek(m_descriptor, 0, SEEK_END) : 0;
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

void WalkOutput::Truncate(uint64_t bytes) {
    if (!ToFile()) return;
    if (m_stream.is_open()) m_stream.close();
    if (::ftruncate(m_descriptor, static_cast<off_t>(bytes)) != 0)
        throw Failure(kExitFailure, SystemText("cannot truncate " + m_file));
    m_stream.open(m_file, std::ios::binary | std::ios::app);
    if (!m_stream) throw Failure(kExitFailure, SystemText("cannot open " + m_file));
}

CZuError RunTreeWalk(CommandContext& context, const WalkCommandOptions& options,
                     const std::string& command, const std::string& path, int snapshotId,
                     size_t maxDepth, WalkConsumer& consumer, WalkOutput& output) {
    const std::string identity = command + OutputWords(context.output);
    clusterwalk::CCheckpointFile checkpoint;
    if (!options.checkpoint.empty()) OpenCheckpoint(options.checkpoint, checkpoint);
    std::unique_ptr<clusterwalk::CTreeWalker> walker = context.session.NewWalker(options.parallel);
    clusterwalk::WalkOptions walkOptions;
    walkOptions.maxDepth = maxDepth;
    std::vector<clusterwalk::WalkUnit> start;
    if (checkpoint.Exists()) {
        if (!options.resume) {
            throw UsageError("checkpoint " + options.checkpoint +
                             " holds an unfinished walk: add --resume to go on with it, or "
                             "remove it to start afresh");
        }
        walkOptions.earlier = Resume(*walker, checkpoint, identity, consumer, output);
    } else {
        start.emplace_back();
        CZuError error = StartUnit(context, path, snapshotId, start.back());
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        output.Truncate(0);
    }
    if (!options.checkpoint.empty()) {
        walkOptions.checkpoint = &checkpoint;
        walkOptions.checkpointInterval =
            std::chrono::milliseconds(static_cast<long long>(options.checkpointSeconds * 1000));
        walkOptions.commit = [&] {
            return FormatNote({identity, output.Commit(), consumer.SaveState()});
        };
    }
    std::mutex terminal;
    std::exception_ptr outputFailure;
    auto sink = [&](std::list<Cluster::CDirectoryEntry>& entries) {
        std::lock_guard<std::mutex> lock(terminal);
        context.progress.BeforeOutput();
        try {
            consumer.Take(entries);
        } catch (const OutputError&) {
            outputFailure = std::current_exception();
            throw;
        }
    };
    const auto started = std::chrono::steady_clock::now();
    clusterwalk::WalkSummary summary;
    {
        WalkMonitor monitor(context, *walker, terminal);
        summary = walker->Walk(std::move(start), sink, walkOptions);
    }
    context.progress.Clear();
    if (outputFailure) std::rethrow_exception(outputFailure);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const bool finished = summary.Complete() && NotedSignal() == 0;
    if (NotedSignal() == 0) consumer.Finish(finished);
    FlushOutput(output.Stream());
    if (finished && !options.checkpoint.empty()) RemoveFinishedCheckpoint(checkpoint);
    if (!options.summaryFile.empty()) WriteSummaryFile(options.summaryFile, summary, seconds);
    ReportWalk(summary, seconds, isatty(STDERR_FILENO) != 0);
    Judge(summary, options);
    return CZuError::Success();
}

}  // namespace clusterctl
