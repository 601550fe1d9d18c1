#include "ClusterWalk/Pager.h"

namespace clusterwalk {

PageWalk::PageWalk() = default;

void PageWalk::SetCursor(std::string pageLink) {
    m_cursor = std::move(pageLink);
    m_nextLink.clear();
    m_pageRead = false;
    m_finished = false;
    m_error = CZuError::Success();
    // A new walk: links of an earlier one may come again. The resumed page's link counts as
    // given, so a page that links back to it is a loop too.
    m_seenLinks.clear();
    if (!m_cursor.empty()) m_seenLinks.insert(m_cursor);
}

bool PageWalk::StartPage(std::string& pageLink) {
    if (m_finished) return false;
    if (m_pageRead) {
        if (m_nextLink.empty()) {
            m_finished = true;
            return false;
        }
        m_cursor = m_nextLink;
    }
    pageLink = m_cursor;
    return true;
}

bool PageWalk::EndPage(const CZuError& readError, const std::string& nextLink, size_t records) {
    if (readError.IsError()) {
        m_error = readError;
        m_error.Push(FX_CODE_LOCATION);
        m_finished = true;
        return false;
    }
    m_pageRead = true;
    m_nextLink = nextLink;
    ++m_count.pages;
    m_count.entries += records;
    // The page itself was read whole, so it is handed over; only following the link is refused.
    if (!nextLink.empty() && !m_seenLinks.insert(nextLink).second) {
        m_error =
            FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kRepeatedPageLinkError,
                                    "The cluster repeated the page link [%s]", nextLink.c_str());
        m_finished = true;
    }
    return true;
}

Pager<Cluster::CDirectoryEntry> DirectoryPager(Cluster::CFileSystemQueries files, std::string path,
                                               int snapshotId) {
    return Pager<Cluster::CDirectoryEntry>(
        [files = std::move(files), path = std::move(path), snapshotId](
            const std::string& pageLink, std::list<Cluster::CDirectoryEntry>& entries,
            std::string& nextLink) mutable {
            return files.GetDirectoryEntries(path, entries, nextLink, snapshotId, pageLink);
        });
}

Pager<Cluster::CSnapshotDiffInfo> SnapshotDiffPager(Cluster::CSnapshotQueries snapshots,
                                                    uint64_t baseSnapshotId,
                                                    uint64_t targetSnapshotId) {
    return Pager<Cluster::CSnapshotDiffInfo>(
        [snapshots = std::move(snapshots), baseSnapshotId, targetSnapshotId](
            const std::string& pageLink, std::list<Cluster::CSnapshotDiffInfo>& changes,
            std::string& nextLink) mutable {
            return snapshots.GetSnapshotDiff(baseSnapshotId, targetSnapshotId, changes, nextLink,
                                             pageLink);
        });
}

}  // namespace clusterwalk
