#include "ClusterWalk/PageFetcher.h"

#include <list>
#include <utility>

#include "ClusterWalk/PageLinks.h"

namespace clusterwalk {

CPageFetcher::CPageFetcher(CResilientSession& session, std::string path, int snapshotId)
    : m_session(session), m_path(std::move(path)), m_snapshotId(snapshotId) {}

CPageFetcher::~CPageFetcher() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

CPageFetcher::Page CPageFetcher::Take(const std::string& link) {
    std::optional<Page> ahead;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ahead.swap(m_ahead);
    }
    if (ahead && ahead->link == link) return std::move(*ahead);
    return Fetch(link);
}

void CPageFetcher::Ahead(const std::string& link) {
    if (!StartThread()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_asked = link;
    }
    m_changed.notify_all();
}

void CPageFetcher::Settle(bool keep) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_asked; });
    if (!keep) m_ahead.reset();
}

CPageFetcher::Page CPageFetcher::Fetch(const std::string& link) {
    Page page;
    try {
        page.link = link;
        std::string requestPath;
        const CZuError refusal =
            DirectoryPageRequest(*m_session.Parser(), m_path, m_snapshotId, link, requestPath);
        if (refusal.IsError()) {
            page.error = Refuse(link, refusal);
            return page;
        }
        Cluster::CConnection& connection = *m_session.Connection();
        page.error = m_session.Run(RequestKind::Get, [&] {
            return connection.SendRequest(Cluster::REQUEST_GET, requestPath, std::string(),
                                          page.body, true);
        });
    } catch (...) {
        page.error = ErrorFromException(FX_CODE_LOCATION);
    }
    return page;
}

CZuError CPageFetcher::Refuse(const std::string& link, const CZuError& refusal) {
    std::list<Cluster::CDirectoryEntry> none;
    std::string nextLink;
    Cluster::CFileSystemQueries files = m_session.Files();
    const CZuError error = m_session.Run(RequestKind::Get, [&] {
        return files.GetDirectoryEntries(m_path, none, nextLink, m_snapshotId, link);
    });
    return error.IsError() ? error : refusal;
}

bool CPageFetcher::StartThread() {
    if (m_thread.joinable()) return true;
    try {
        m_thread = std::thread([this] { Serve(); });
        return true;
    } catch (...) {
        return false;  // fetched when asked for instead
    }
}

void CPageFetcher::Serve() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || m_asked; });
        if (m_stopping) return;
        // Only this thread changes m_asked while it is set, so it is read unlocked.
        lock.unlock();
        Page page = Fetch(*m_asked);
        lock.lock();
        Deliver(std::move(page));
    }
}

void CPageFetcher::Deliver(Page&& page) noexcept {
    try {
        m_ahead = std::move(page);
    } catch (...) {
        m_ahead.reset();  // Take fetches the page again
    }
    m_asked.reset();
    m_changed.notify_all();
}

}  // namespace clusterwalk
