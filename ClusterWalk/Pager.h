// Walks a paged listing of the cluster to its end. The client library hands out one page per
// call and never loops; a pager does the looping, one page in memory at a time, so a listing of
// any length is read in flat memory:
//
//     clusterwalk::Pager<Cluster::CDirectoryEntry> pager =
//         clusterwalk::DirectoryPager(files, "/home", 0);
//     for (const Cluster::CDirectoryEntry& entry : pager) Use(entry);
//     if (pager.Error().IsError()) ...
//
// A pager is not safe to use from two threads at once, and neither are the query objects
// it reads through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <list>
#include <string>
#include <unordered_set>
#include <utility>

#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "ClusterWalk/ClusterWalkExport.h"
#include "platform/ZuUtils.h"

namespace clusterwalk {

// What a walk has read so far. Several walks may add to one count (a recursive listing).
struct PageCount {
    uint64_t pages = 0;
    uint64_t entries = 0;
};

// The code a walk fails with when the cluster hands back a page link it already gave:
// following it would read the same pages forever.
constexpr unsigned int kRepeatedPageLinkError = 1059;

// The record-independent state of a walk: where it stands, what it has read, how it ended.
class CLUSTERWALK_API PageWalk {
  public:
    // The page link of the page whose records are being handed over, or, before the first
    // page and after SetCursor, of the page to read next; empty for the first page of a
    // listing. Saved while a page is being read and passed to SetCursor, it resumes the walk
    // at that page's first record.
    const std::string& Cursor() const { return m_cursor; }
    // Resumes at `pageLink` (empty: from the start): the page in hand is dropped, the error
    // and the end are forgotten, and the next page read is that one.
    void SetCursor(std::string pageLink);

    // Success while the walk goes on and after it read the last page; else why it ended.
    const CZuError& Error() const { return m_error; }
    // True once the walk has nothing more to read: the last page was read, or an error ended it.
    bool Finished() const { return m_finished; }
    const PageCount& Count() const { return m_count; }

  protected:
    PageWalk();

    // False when nothing is left to read; else `pageLink` is the link of the page to read.
    bool StartPage(std::string& pageLink);
    // Takes the outcome of reading one page of `records` records; true when they are to be
    // handed over, which is only when the page was read whole.
    bool EndPage(const CZuError& readError, const std::string& nextLink, size_t records);

  private:
    std::string m_cursor;
    std::string m_nextLink;
    bool m_pageRead = false;  // a page was read since the start or SetCursor
    bool m_finished = false;
    CZuError m_error;
    PageCount m_count;
    // Every link the walk was given; a repeat means the cluster sends it round in a loop.
    std::unordered_set<std::string> m_seenLinks;
};

// A walk over the records of Record. Page by page:
//     while (pager.NextPage()) Use(pager.Records());
// or record by record with range-for. Either way, check Error() after the loop. A pager must
// not move while an iterator into it is in use.
template <class Record>
class Pager : public PageWalk {
  public:
    // Reads one page into the emptied `records` and sets `nextLink` (empty after the last).
    using FetchPage = std::function<CZuError(const std::string& pageLink,
                                             std::list<Record>& records, std::string& nextLink)>;

    explicit Pager(FetchPage fetchPage) : m_fetchPage(std::move(fetchPage)) {}

    // Reads the next page into Records(); false at the end of the listing or on an error, and
    // then Records() is empty. A failed page's records are never handed over.
    bool NextPage() {
        m_records.clear();
        std::string pageLink;
        if (!StartPage(pageLink)) return false;
        std::string nextLink;
        const CZuError error = m_fetchPage(pageLink, m_records, nextLink);
        if (EndPage(error, nextLink, m_records.size())) return true;
        m_records.clear();
        return false;
    }

    // The page in hand; the caller may take its records away (splice, move).
    std::list<Record>& Records() { return m_records; }

    // An input iterator: each step past a page's last record reads the next page.
    class iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Record;
        using difference_type = std::ptrdiff_t;
        using pointer = Record*;
        using reference = Record&;

        iterator() = default;
        Record& operator*() const { return *m_at; }
        Record* operator->() const { return &*m_at; }
        iterator& operator++() {
            ++m_at;
            Settle();
            return *this;
        }
        bool operator==(const iterator& other) const {
            return m_pager == other.m_pager && (m_pager == nullptr || m_at == other.m_at);
        }
        bool operator!=(const iterator& other) const { return !(*this == other); }

      private:
        friend class Pager;
        explicit iterator(Pager* pager) : m_pager(pager), m_at(pager->m_records.begin()) {
            Settle();
        }
        // Moves past empty pages; becomes the end iterator when the walk ends.
        void Settle() {
            while (m_at == m_pager->m_records.end()) {
                if (!m_pager->NextPage()) {
                    m_pager = nullptr;
                    return;
                }
                m_at = m_pager->m_records.begin();
            }
        }

        Pager* m_pager = nullptr;
        typename std::list<Record>::iterator m_at;
    };

    // From the first record of the page in hand, reading the next page when none is.
    iterator begin() { return iterator(this); }
    iterator end() { return iterator(); }

  private:
    FetchPage m_fetchPage;
    std::list<Record> m_records;
};

// A directory's entries, live (`snapshotId` 0) or as that snapshot froze them. The pager
// keeps its own copy of `files`, so the original may go.
CLUSTERWALK_API Pager<Cluster::CDirectoryEntry> DirectoryPager(Cluster::CFileSystemQueries files,
                                                               std::string path, int snapshotId);

// The changes in the target snapshot since the base snapshot. The pager keeps its own copy of
// `snapshots`.
CLUSTERWALK_API Pager<Cluster::CSnapshotDiffInfo> SnapshotDiffPager(
    Cluster::CSnapshotQueries snapshots, uint64_t baseSnapshotId, uint64_t targetSnapshotId);

// The callback form, for walks that do more per page than per record:
//   fetchPage(const std::string& pageLink, std::list<Record>& records, std::string& nextLink)
//       -> CZuError; reads one page into the emptied `records`, the first with an empty link.
//   handlePage(std::list<Record>& records) -> CZuError; an error ends the walk with it.
// `count` is updated before `handlePage` runs, so the handler can report progress from it.
// The walk stops at the first error: pages read before it were handed over, the failing
// page's records are not.
template <class Record, class FetchPage, class HandlePage>
CZuError WalkPages(FetchPage&& fetchPage, HandlePage&& handlePage, PageCount& count) {
    Pager<Record> pager(std::forward<FetchPage>(fetchPage));
    return WalkPages(pager, std::forward<HandlePage>(handlePage), count);
}

// The callback form over a pager, from where it stands.
template <class Record, class HandlePage>
CZuError WalkPages(Pager<Record>& pager, HandlePage&& handlePage, PageCount& count) {
    while (pager.NextPage()) {
        ++count.pages;
        count.entries += pager.Records().size();
        CZuError error = handlePage(pager.Records());
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    }
    if (!pager.Error().IsError()) return CZuError::Success();
    CZuError error = pager.Error();
    return error.Push(FX_CODE_LOCATION);
}

}  // namespace clusterwalk
