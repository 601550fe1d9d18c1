// `ls` (declared in Commands.h): one directory page by page and, with -R, every directory
// below it. The walk keeps the directories still to list on an explicit stack instead of
// recursing, so no tree a cluster sends, however deep or looped, can exhaust the call stack.
#include <algorithm>
#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include "ClusterWalk/ResilientSession.h"
#include "Commands.h"
#include "Records.h"
#include "TerminalText.h"

namespace clusterctl {
namespace {

// Win32's "the name of the file cannot be resolved", as for a symbolic link loop.
constexpr unsigned int kFileSystemLoopError = 1921;

struct Subdirectory {
    std::string path;
    uint64_t id = 0;
};

// One directory of the path from the starting one down to the one being listed, with those of
// its subdirectories still to list, the next one last. The levels' ids are the ancestors of
// every pending subdirectory, as `find` keeps them: memory grows with depth, not tree size.
struct Level {
    uint64_t id = 0;
    bool idKnown = false;
    std::vector<Subdirectory> pending;
};

class DirectoryWalk {
  public:
    DirectoryWalk(CommandContext& context, const ListOptions& options)
        : m_context(context),
          m_options(options),
          m_files(context.session.Files()),
          m_listing(context.out, context.output, Row({}), !PathsOnly()) {}

    CZuError Run() {
        std::vector<Level> levels(1);
        CZuError error = StartingLevel(levels.front());
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        error = ListOne(m_options.path, levels.front());
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        while (!levels.empty()) {
            if (levels.back().pending.empty()) {
                levels.pop_back();
                continue;
            }
            Subdirectory next = std::move(levels.back().pending.back());
            levels.back().pending.pop_back();
            if (IsAncestor(levels, next.id)) {
                ReportLoop(next);
                continue;
            }
            Level level;
            level.id = next.id;
            level.idKnown = true;
            error = ListOne(next.path, level);
            if (error.IsError()) return error.Push(FX_CODE_LOCATION);
            levels.push_back(std::move(level));
        }
        // The walk went through; a loop it did not enter leaves nothing out that was asked
        // for, and the run's status tells of it.
        m_listing.Finish();
        return LoopsMet();
    }

  private:
    // The starting directory's id, so a listing that names the directory itself is caught at
    // once. The cluster gives attributes only live: a snapshot may hold a directory the live
    // tree lost, so there the id stays unknown and such a loop is caught one level down.
    CZuError StartingLevel(Level& level) {
        if (!m_options.recursive || m_options.snapshotId != 0) return CZuError::Success();
        Cluster::CFileAttributeInfo info;
        CZuError error = m_context.session.Run(clusterwalk::RequestKind::Get, [&] {
            return m_files.GetFileAttributes(m_options.path, info, 0);
        });
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        level.id = info.id;
        level.idKnown = true;
        return CZuError::Success();
    }

    // Writes the directory's rows page by page and, when recursive, notes its subdirectories.
    CZuError ListOne(const std::string& path, Level& level) {
        auto pager =
            clusterwalk::DirectoryPager(m_context.session.Resilient(), path, m_options.snapshotId);
        auto handle = [&](const std::list<Cluster::CDirectoryEntry>& entries) {
            HandlePage(entries, level.pending);
            return CZuError::Success();
        };
        CZuError error = clusterwalk::WalkPages(pager, handle, m_count);
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        std::reverse(level.pending.begin(), level.pending.end());
        return CZuError::Success();
    }

    void HandlePage(const std::list<Cluster::CDirectoryEntry>& entries,
                    std::vector<Subdirectory>& subdirectories) {
        for (const Cluster::CDirectoryEntry& entry : entries) {
            m_listing.Add(Row(entry));
            if (m_options.recursive && entry.isDirectory) {
                subdirectories.push_back({entry.path, entry.id});
            }
        }
        m_context.progress.BeforeOutput();
        m_listing.Flush();
        m_context.progress.Update(m_count, m_context.session.Retries());
    }

    static bool IsAncestor(const std::vector<Level>& levels, uint64_t id) {
        for (const Level& level : levels) {
            if (level.idKnown && level.id == id) return true;
        }
        return false;
    }

    void ReportLoop(const Subdirectory& directory) {
        ++m_loops;
        m_context.progress.Clear();
        FlushOutput(m_context.out);
        std::fprintf(stderr,
                     "clusterctl: file system loop: %s has the file id %llu of a directory "
                     "above it; not entered\n",
                     EscapeForTerminal(directory.path).c_str(),
                     static_cast<unsigned long long>(directory.id));
    }

    // Loops do not stop the walk, but the run must not look clean.
    CZuError LoopsMet() const {
        if (m_loops == 0) return CZuError::Success();
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kFileSystemLoopError,
                                       "The listing met %llu file system loop(s) and did not "
                                       "enter them",
                                       static_cast<unsigned long long>(m_loops));
    }

    // Plain `ls` as a table shows names alone; every other form shows the entries' fields.
    bool PathsOnly() const {
        return m_context.output.format == Format::Table && !m_options.longFormat &&
               m_context.output.fields.empty();
    }

    Fields Row(const Cluster::CDirectoryEntry& entry) const {
        if (PathsOnly()) return {TextField("path", entry.path)};
        return EntryFields(entry, {ModeReading::Value, m_context.output.humanSizes});
    }

    CommandContext& m_context;
    const ListOptions& m_options;
    Cluster::CFileSystemQueries m_files;
    Listing m_listing;
    clusterwalk::PageCount m_count;
    uint64_t m_loops = 0;
};

}  // namespace

CZuError ListDirectory(CommandContext& context, const ListOptions& options) {
    DirectoryWalk walk(context, options);
    CZuError error = walk.Run();
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    return CZuError::Success();
}

}  // namespace clusterctl
