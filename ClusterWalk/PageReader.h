// Reads one directory's pages through a resilient session, fetching the next page while the
// current one is parsed, so a long listing costs about its transfer time rather than transfer
// plus parse:
//
//     clusterwalk::CDirectoryPageReader reader(session, "/home", 0);
//     std::list<Cluster::CDirectoryEntry> entries;
//     std::string nextLink;
//     do {
//         if (reader.Next(entries, nextLink).IsError()) ...
//         Use(entries);
//     } while (!nextLink.empty());
//
// The next page's link is guessed from the end of the current page's body and fetched on a
// thread of the reader's own while the page is parsed. The guess counts only when the parse
// gives the same link; otherwise the fetched body is dropped and the right page is read, so a
// page is never delivered from a wrong guess. A guessed link must pass the same check as any
// page link (an absolute path on the same cluster), so a page cannot send the token elsewhere.
//
// Each page's request goes through the session's Run: a refused token logs in again, a
// passing failure is sent again, the rate limit and the job's cancellation apply. The session
// is used only while Next or Read runs (the fetch ahead ends before they return), so between
// pages it is free for other calls from the reader's thread. A reader is used from one thread.
#pragma once

#include <list>
#include <memory>
#include <string>

#include "Cluster/ClusterParser.h"
#include "ClusterWalk/ClusterWalkExport.h"
#include "ClusterWalk/ResilientSession.h"
#include "platform/ZuUtils.h"

namespace clusterwalk {

class CPageFetcher;

// Exported member by member, so its private helpers stay out of the boundary.
class CDirectoryPageReader {
  public:
    // Reads the pages of `path`, live (`snapshotId` 0) or as that snapshot froze them, from the
    // page at `pageLink` on (empty: the first page). The session must outlive the reader.
    CLUSTERWALK_API CDirectoryPageReader(CResilientSession& session, std::string path,
                                         int snapshotId, std::string pageLink = std::string());
    CLUSTERWALK_API ~CDirectoryPageReader();
    CDirectoryPageReader(const CDirectoryPageReader&) = delete;
    CDirectoryPageReader& operator=(const CDirectoryPageReader&) = delete;

    // Empties `entries` and fills it with the next page; `nextLink` gets the link of the page
    // after it (empty: this was the last). Fails as CFileSystemQueries::GetDirectoryEntries
    // inside the session's Run would, with the same codes; then `nextLink` keeps its content
    // and the following call reads the same page again. Once the last page was read it hands
    // over nothing more and sends nothing.
    CLUSTERWALK_API CZuError Next(std::list<Cluster::CDirectoryEntry>& entries,
                                  std::string& nextLink);

    // The page at `pageLink` (empty: the first page), as Next reads it; the following Next
    // reads the page after it.
    CLUSTERWALK_API CZuError Read(const std::string& pageLink,
                                  std::list<Cluster::CDirectoryEntry>& entries,
                                  std::string& nextLink);

    // The link of the page the last Next or Read asked for (empty for the first page).
    const std::string& PageLink() const { return m_pageLink; }
    // True once the last page was read.
    bool Finished() const { return m_finished; }

  private:
    CResilientSession& m_session;
    const std::string m_path;
    const int m_snapshotId;
    std::string m_pageLink;
    std::string m_following;  // the link Next reads
    bool m_finished = false;
    std::unique_ptr<CPageFetcher> m_fetcher;  // made by the first read
};

}  // namespace clusterwalk
