// `ls -R`, `find` and `du` (declared in Commands.h): walks of a whole tree over many
// connections (TreeWalk.h), each with what it makes of the entries.
#include <string>

#include "Records.h"
#include "TreeWalk.h"
#include "UsageError.h"

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
        const std::string digits = state.substr(std::min(state.size(), tag.size()));
        if (state.compare(0, tag.size(), tag) != 0 || digits.empty() || digits.size() > 19 ||
            digits.find_first_not_of("0123456789") != std::string::npos)
            throw UsageError("the checkpoint was not saved by a listing walk");
        m_rows = std::stoull(digits);
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

}  // namespace clusterctl
