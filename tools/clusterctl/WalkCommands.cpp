// `ls -R`, `find` and `du` (declared in Commands.h): walks of a whole tree over many
// connections (TreeWalk.h), each with what it makes of the entries.
#include <sys/ioctl.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "DuReport.h"
#include "Records.h"
#include "TreeWalk.h"
#include "UsageError.h"
#include "WholeNumber.h"

namespace clusterctl {
namespace {

// The rows of `ls -R` and `find`: every entry kept, written a page at a time. The count of
// rows written is what a resumed run needs to go on with the same listing.
class EntryRows : public WalkConsumer {
  public:
    EntryRows(std::ostream& out, const OutputOptions& output, bool longFormat,
              std::function<bool(const Cluster::CDirectoryEntry&)> keep)
        : m_output(output),
          m_longFormat(longFormat),
          m_keep(std::move(keep)),
          m_listing(out, output, EntryRow({}, output, longFormat), !PathsOnly(output, longFormat)) {
    }

    void Take(std::list<Cluster::CDirectoryEntry>& entries) override {
        for (const Cluster::CDirectoryEntry& entry : entries) {
            if (m_keep && !m_keep(entry)) continue;
            m_listing.Add(EntryRow(entry, m_output, m_longFormat));
            ++m_rows;
        }
        m_listing.Flush();
    }
    std::string SaveState() override { return "rows " + std::to_string(m_rows); }
    void RestoreState(const std::string& state) override {
        const std::string tag = "rows ";
        if (state.compare(0, tag.size(), tag) != 0 ||
            !ReadWholeNumber(state.substr(tag.size()), m_rows))
            throw UsageError("the checkpoint was not saved by a listing walk");
        m_listing.Resume(m_rows > 0);
    }
    void Finish(bool complete) override {
        // Cut short, a JSON listing stays unclosed, so it never parses as a whole one.
        if (complete) m_listing.Finish();
    }

  private:
    const OutputOptions& m_output;
    const bool m_longFormat;
    const std::function<bool(const Cluster::CDirectoryEntry&)> m_keep;
    Listing m_listing;
    uint64_t m_rows = 0;
};

// The tally of `du`: nothing is written until the walk ends, so a checkpoint keeps the tally
// itself.
class DiskUsageTally : public WalkConsumer {
  public:
    DiskUsageTally(std::ostream& out, const OutputOptions& output, const std::string& root,
                   std::optional<unsigned> depth, const DuDisplay& display)
        : m_out(out), m_output(output), m_tally(root, depth), m_display(display) {}

    void Take(std::list<Cluster::CDirectoryEntry>& entries) override {
        for (const Cluster::CDirectoryEntry& entry : entries) m_tally.Add(entry);
    }
    std::string SaveState() override { return m_tally.Save(); }
    void RestoreState(const std::string& state) override {
        std::string reason;
        if (!m_tally.Load(state, reason))
            throw UsageError("the checkpoint's tally does not fit: " + reason);
    }
    // Cut short, the report still shows what was read; the run's status says it is partial.
    void Finish(bool) override { PrintDuReport(m_out, m_output, m_tally, m_display); }

  private:
    std::ostream& m_out;
    const OutputOptions& m_output;
    DuTally m_tally;
    const DuDisplay m_display;
};

// Bars are drawn only for a person: stdout on a terminal, as wide as it is.
DuDisplay Display(const WalkOutput& output) {
    DuDisplay display;
    display.terminal = !output.ToFile() && isatty(STDOUT_FILENO) != 0;
    struct winsize size {};
    if (display.terminal && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        display.columns = size.ws_col;
    return display;
}

std::string SnapshotWords(int snapshotId) {
    return snapshotId == 0 ? std::string() : " --snapshot " + std::to_string(snapshotId);
}

CZuError WalkRows(CommandContext& context, const ListOptions& list, size_t maxDepth,
                  const std::string& identity,
                  std::function<bool(const Cluster::CDirectoryEntry&)> keep) {
    WalkOutput output(list.walk.outputFile);
    EntryRows rows(output.Stream(), context.output, list.longFormat, std::move(keep));
    CZuError error = RunTreeWalk(context, list.walk, identity, list.path, list.snapshotId, maxDepth,
                                 rows, output);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    return CZuError::Success();
}

}  // namespace

CZuError ListTree(CommandContext& context, const ListOptions& options) {
    const std::string identity = "ls -R " + options.path + SnapshotWords(options.snapshotId) +
                                 (options.longFormat ? " -l" : "");
    return WalkRows(context, options, SIZE_MAX, identity, nullptr);
}

CZuError FindEntries(CommandContext& context, const FindOptions& options) {
    const std::string identity =
        "find " + options.list.path + SnapshotWords(options.list.snapshotId) + options.criteria;
    return WalkRows(context, options.list, options.maxDepth, identity, options.keep);
}

CZuError DiskUsage(CommandContext& context, const DiskUsageOptions& options) {
    const ListOptions& list = options.list;
    const std::optional<unsigned> depth =
        options.depth == SIZE_MAX ? std::nullopt
                                  : std::optional<unsigned>(static_cast<unsigned>(options.depth));
    const std::string identity = "du " + list.path + SnapshotWords(list.snapshotId) +
                                 (depth ? " --depth " + std::to_string(*depth) : "");
    WalkOutput output(list.walk.outputFile);
    const DuDisplay display = Display(output);
    // The report is written only at the end: a mistyped --fields must not cost the walk.
    const bool bars = DrawsBars(context.output, display);
    CheckFields(context.output,
                DuFields({}, false, bars ? std::optional<std::string>("") : std::nullopt));
    DiskUsageTally tally(output.Stream(), context.output, list.path, depth, display);
    CZuError error = RunTreeWalk(context, list.walk, identity, list.path, list.snapshotId, SIZE_MAX,
                                 tally, output);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    return CZuError::Success();
}

}  // namespace clusterctl
