#include "ClusterWalk/PageReader.h"

#include <utility>

#include "ClusterWalk/PageFetcher.h"
#include "ClusterWalk/PageLinks.h"

namespace clusterwalk {

CDirectoryPageReader::CDirectoryPageReader(CResilientSession& session, std::string path,
                                           int snapshotId, std::string pageLink)
    : m_session(session),
      m_path(std::move(path)),
      m_snapshotId(snapshotId),
      m_following(std::move(pageLink)) {}

CDirectoryPageReader::~CDirectoryPageReader() = default;

CZuError CDirectoryPageReader::Next(std::list<Cluster::CDirectoryEntry>& entries,
                                    std::string& nextLink) try {
    if (m_finished) {
        entries.clear();
        nextLink.clear();
        return CZuError::Success();
    }
    const std::string pageLink = m_following;
    return Read(pageLink, entries, nextLink);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CDirectoryPageReader::Read(const std::string& pageLink,
                                    std::list<Cluster::CDirectoryEntry>& entries,
                                    std::string& nextLink) try {
    entries.clear();
    m_pageLink = pageLink;
    m_following = pageLink;
    m_finished = false;
    if (!m_fetcher) m_fetcher = std::make_unique<CPageFetcher>(m_session, m_path, m_snapshotId);
    CPageFetcher::Page page = m_fetcher->Take(pageLink);
    if (page.error.IsError()) return page.error.Push(FX_CODE_LOCATION);

    // The guess costs a look at the body's last bytes; the parse then says whether it held.
    const std::string guess = GuessNextLink(page.body);
    if (!guess.empty()) m_fetcher->Ahead(guess);
    std::string parsedNext;
    CZuError error = m_session.Parser()->GetDirectoryEntries(page.body, entries, parsedNext);
    m_fetcher->Settle(!error.IsError() && !guess.empty() && parsedNext == guess);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);

    nextLink = parsedNext;
    m_following = std::move(parsedNext);
    m_finished = m_following.empty();
    return CZuError::Success();
} catch (...) {
    // The session is free again before the failure is told.
    if (m_fetcher) m_fetcher->Settle(false);
    return ErrorFromException(FX_CODE_LOCATION);
}

}  // namespace clusterwalk
