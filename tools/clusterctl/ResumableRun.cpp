#include "ResumableRun.h"

#include <condition_variable>
#include <csignal>
#include <sstream>
#include <thread>

#include "Diagnostics.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "Signals.h"
#include "UsageError.h"
#include "WholeNumber.h"

namespace clusterctl {
namespace {

constexpr std::chrono::milliseconds kMonitorInterval{100};
constexpr const char* kNoteTag = "clusterctl-walk 1";

// What a checkpoint's note holds: the run it belongs to, how much of each output file the
// delivered rows filled (one number per output, space-separated), and the command's state.
struct Note {
    std::string identity;
    std::vector<uint64_t> outputBytes;
    std::string state;
};

std::string FormatNote(const Note& note) {
    std::string bytes;
    for (uint64_t length : note.outputBytes)
        bytes += (bytes.empty() ? "" : " ") + std::to_string(length);
    return std::string(kNoteTag) + '\n' + note.identity + '\n' + bytes + '\n' + note.state;
}

bool ParseLengths(const std::string& text, std::vector<uint64_t>& lengths) {
    std::istringstream words(text);
    for (std::string word; std::getline(words, word, ' ');) {
        lengths.emplace_back();
        if (!ReadWholeNumber(word, lengths.back())) return false;
    }
    return !lengths.empty();
}

bool ParseNote(const std::string& text, Note& note) {
    const size_t tagEnd = text.find('\n');
    const size_t identityEnd = text.find('\n', tagEnd + 1);
    const size_t bytesEnd = text.find('\n', identityEnd + 1);
    if (bytesEnd == std::string::npos || text.compare(0, tagEnd, kNoteTag) != 0) return false;
    note.identity = text.substr(tagEnd + 1, identityEnd - tagEnd - 1);
    if (!ParseLengths(text.substr(identityEnd + 1, bytesEnd - identityEnd - 1), note.outputBytes))
        return false;
    note.state = text.substr(bytesEnd + 1);
    return true;
}

// Draws the progress line and turns a noted SIGINT or SIGTERM into the job's cancellation,
// which the engine answers by saving its checkpoint.
class Monitor {
  public:
    Monitor(CommandContext& context, const std::function<void()>& showProgress,
            std::mutex& terminal)
        : m_context(context), m_showProgress(showProgress), m_terminal(terminal) {
        SetWalkStoppable(true);
        m_thread = std::thread(&Monitor::Run, this);
    }
    ~Monitor() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
        SetWalkStoppable(false);
    }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_wake.wait_for(lock, kMonitorInterval, [this] { return m_done; })) {
            if (NotedSignal() != 0) m_context.session.Job().Cancel();
            std::lock_guard<std::mutex> terminal(m_terminal);
            m_showProgress();
        }
    }

    CommandContext& m_context;
    const std::function<void()>& m_showProgress;
    std::mutex& m_terminal;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    std::thread m_thread;
};

}  // namespace

std::string OutputWords(const OutputOptions& output) {
    static const char* const kFormats[] = {"table", "json", "jsonl", "csv", "paths"};
    std::string words = std::string(" -o ") + kFormats[static_cast<int>(output.format)];
    if (output.humanSizes) words += " -h";
    if (!output.headers) words += " --no-headers";
    for (size_t i = 0; i < output.fields.size(); ++i)
        words += (i == 0 ? " --fields " : ",") + output.fields[i];
    return words;
}

ResumableRun::ResumableRun(CommandContext& context, const WalkCommandOptions& options,
                           const std::string& identity, std::vector<WalkOutput*> outputs,
                           ResumableState& state)
    : m_context(context),
      m_options(options),
      m_identity(identity + OutputWords(context.output)),
      m_outputs(std::move(outputs)),
      m_state(state) {
    if (options.checkpoint.empty()) return;
    std::string error;
    if (!m_file.Open(options.checkpoint, error)) throw Failure(kExitFailure, error);
    if (m_file.Exists() && !options.resume) {
        throw UsageError("checkpoint " + options.checkpoint +
                         " holds an unfinished walk: add --resume to go on with it, or "
                         "remove it to start afresh");
    }
}

void ResumableRun::Restore(const std::string& text) {
    Note note;
    if (!ParseNote(text, note) || note.outputBytes.size() != m_outputs.size())
        throw UsageError(m_file.Path() + " was not saved by a walk of clusterctl");
    if (note.identity != m_identity) {
        throw UsageError("checkpoint " + m_file.Path() + " belongs to another walk (" +
                         note.identity + ")");
    }
    for (size_t i = 0; i < m_outputs.size(); ++i) {
        WalkOutput& output = *m_outputs[i];
        if (output.ToFile() && output.Size() < note.outputBytes[i]) {
            throw UsageError("output " + output.File() + " is shorter than checkpoint " +
                             m_file.Path() + " records: it is not the output of that walk");
        }
        output.Truncate(note.outputBytes[i]);
    }
    m_state.RestoreState(note.state);
}

void ResumableRun::StartAfresh() {
    for (WalkOutput* output : m_outputs) output->Truncate(0);
}

std::chrono::milliseconds ResumableRun::Interval() const {
    return std::chrono::milliseconds(static_cast<long long>(m_options.checkpointSeconds * 1000));
}

std::function<std::string()> ResumableRun::Commit() {
    return [this] {
        Note note{m_identity, {}, m_state.SaveState()};
        for (WalkOutput* output : m_outputs) note.outputBytes.push_back(output->Commit());
        return FormatNote(note);
    };
}

void ResumableRun::Deliver(const std::function<void()>& write) {
    std::lock_guard<std::mutex> lock(m_terminal);
    m_context.progress.BeforeOutput();
    try {
        write();
    } catch (...) {
        if (!m_deliveryFailure) m_deliveryFailure = std::current_exception();
        throw;
    }
}

void ResumableRun::Run(const std::function<void()>& showProgress,
                       const std::function<void()>& body) {
    {
        Monitor monitor(m_context, showProgress, m_terminal);
        body();
    }
    m_context.progress.Clear();
    if (m_deliveryFailure) std::rethrow_exception(m_deliveryFailure);
}

void ResumableRun::RemoveCheckpoint() {
    if (m_options.checkpoint.empty()) return;
    std::string error;
    if (!m_file.Remove(error)) ReportLine("warning: " + error);
}

void ResumableRun::JudgeSignal() const {
    const int signal = NotedSignal();
    if (signal == SIGINT) throw Failure(kExitInterrupted, "interrupted" + ResumeHint());
    if (signal == SIGTERM) throw Failure(kExitTerminated, "terminated" + ResumeHint());
}

std::string ResumableRun::ResumeHint() const {
    return m_options.checkpoint.empty()
               ? ""
               : "; go on with --resume --checkpoint " + m_options.checkpoint;
}

}  // namespace clusterctl
