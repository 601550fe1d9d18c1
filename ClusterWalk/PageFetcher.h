// Internal to the walking library: fetches the bodies of one directory's pages through a
// resilient session, either at once on the caller's thread or ahead, one page at a time, on a
// thread of its own. Only one of the two uses the session at any moment: a fetch at once
// starts only after the fetch ahead was settled.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "ClusterWalk/ResilientSession.h"
#include "platform/ZuUtils.h"

namespace clusterwalk {

class CPageFetcher {
  public:
    // A page's body as the cluster sent it, or why it could not be had.
    struct Page {
        std::string link;  // empty for the first page
        std::string body;
        CZuError error;
    };

    CPageFetcher(CResilientSession& session, std::string path, int snapshotId);
    // Waits for a fetch ahead still running (a cancelled job ends it within about 50 ms).
    ~CPageFetcher();
    CPageFetcher(const CPageFetcher&) = delete;
    CPageFetcher& operator=(const CPageFetcher&) = delete;

    // The page at `link`: the one fetched ahead when it was that link's, else fetched now.
    // Call only when no fetch ahead runs (after Settle).
    Page Take(const std::string& link);
    // Starts fetching `link` ahead. Without a thread for it nothing starts, and Take fetches
    // the page when it is asked for.
    void Ahead(const std::string& link);
    // Waits until the fetch ahead has ended, and keeps its page for Take only when `keep`.
    void Settle(bool keep);

  private:
    Page Fetch(const std::string& link);
    // A link or path this layer refuses is handed to the client library's own call, which
    // refuses it too without sending anything, so the failure and the session's state after
    // it (attempts, last outcome) are that call's. Should that call not refuse, `refusal` is
    // the error all the same.
    CZuError Refuse(const std::string& link, const CZuError& refusal);
    bool StartThread();
    void Serve();
    // Hands the page fetched ahead to Settle and Take; called with the mutex held.
    void Deliver(Page&& page) noexcept;

    CResilientSession& m_session;
    const std::string m_path;
    const int m_snapshotId;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::string> m_asked;  // the link to fetch ahead, until it is fetched
    std::optional<Page> m_ahead;         // the page fetched ahead
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace clusterwalk
