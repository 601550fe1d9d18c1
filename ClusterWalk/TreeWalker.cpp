#include "ClusterWalk/TreeWalker.h"

#include <string.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <unordered_set>
#include <utility>

namespace clusterwalk {

namespace {

constexpr long kNotFound = 404;
// How often an idle connection looks whether the job was cancelled: Cancel() does not know
// the walker's condition variable.
constexpr std::chrono::milliseconds kIdlePoll{50};

class CMemoryUnitQueue : public CUnitQueue {
  public:
    void Push(WalkUnit unit) override { m_units.push_back(std::move(unit)); }
    bool Pop(WalkUnit& unit) override {
        if (m_units.empty()) return false;
        // Last in, first out: the walk goes deep first, so the queue holds about one level's
        // siblings per level rather than a whole breadth of the tree.
        unit = std::move(m_units.back());
        m_units.pop_back();
        return true;
    }
    bool Empty() const override { return m_units.empty(); }

  private:
    std::deque<WalkUnit> m_units;
};

JobStatistics Difference(const JobStatistics& after, const JobStatistics& before) {
    JobStatistics difference;
    difference.attempts = after.attempts - before.attempts;
    difference.retries = after.retries - before.retries;
    difference.relogins = after.relogins - before.relogins;
    return difference;
}

std::string ExceptionText() {
    try {
        throw;
    } catch (const std::exception& exception) {
        return exception.what();
    } catch (...) {
        return "unknown exception";
    }
}

}  // namespace

CUnitQueue::~CUnitQueue() = default;

// One walk's shared state. The mutex guards everything but the sink, which has its own so a
// slow sink never holds back a connection that only wants its next unit.
struct CTreeWalker::State {
    State(CUnitQueue& units, const EntrySink& entrySink) : queue(units), sink(entrySink) {}

    // Under the mutex.
    bool Ending() const { return stop || !error.empty(); }

    CUnitQueue& queue;
    const EntrySink& sink;
    std::mutex mutex;
    std::condition_variable changed;
    unsigned busy = 0;  // connections holding a unit
    unsigned loggedIn = 0;
    bool stop = false;
    std::string error;       // what ended the walk for everyone
    std::string loginError;  // the last login that failed
    WalkSummary summary;
    std::mutex sinkMutex;
};

CTreeWalker::CTreeWalker(std::shared_ptr<CJob> job, std::string baseUrl, std::string userName,
                         const std::string& password, unsigned connections,
                         std::unique_ptr<CUnitQueue> queue)
    : m_job(job ? std::move(job) : std::make_shared<CJob>()),
      m_baseUrl(std::move(baseUrl)),
      m_userName(std::move(userName)),
      m_password(password),
      m_connections(connections == 0 ? 1 : connections),
      m_queue(queue ? std::move(queue) : std::make_unique<CMemoryUnitQueue>()) {}

CTreeWalker::~CTreeWalker() {
    if (!m_password.empty()) explicit_bzero(&m_password[0], m_password.size());
}

void CTreeWalker::Stop() {
    std::lock_guard<std::mutex> walkLock(m_walkMutex);
    if (m_state == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stop = true;
    }
    m_state->changed.notify_all();
}

WalkSummary CTreeWalker::Walk(std::vector<WalkUnit> start, const EntrySink& sink) {
    try {
        return RunWalk(std::move(start), sink);
    } catch (...) {
        WalkSummary summary;
        summary.error = "the walk could not start: " + ExceptionText();
        return summary;
    }
}

WalkSummary CTreeWalker::RunWalk(std::vector<WalkUnit> start, const EntrySink& sink) {
    const JobStatistics before = m_job->Statistics();
    State state(*m_queue, sink);
    for (WalkUnit& unit : start) m_queue->Push(std::move(unit));
    {
        std::lock_guard<std::mutex> walkLock(m_walkMutex);
        m_state = &state;
    }
    std::vector<std::thread> threads;
    StartConnections(state, threads);
    for (std::thread& thread : threads) thread.join();
    {
        std::lock_guard<std::mutex> walkLock(m_walkMutex);
        m_state = nullptr;
    }
    WalkSummary& summary = state.summary;
    // Whatever is still queued was never taken: it goes back whole.
    WalkUnit unit;
    while (m_queue->Pop(unit)) summary.unfinished.push_back(std::move(unit));
    summary.stopped = state.stop || m_job->Cancelled();
    if (state.error.empty() && state.loggedIn == 0 && !summary.stopped)
        state.error = "no connection could log in: " + state.loginError;
    summary.error = state.error;
    summary.requests = Difference(m_job->Statistics(), before);
    return std::move(summary);
}

void CTreeWalker::StartConnections(State& state, std::vector<std::thread>& threads) {
    threads.reserve(m_connections);
    try {
        for (unsigned i = 0; i < m_connections; ++i)
            threads.emplace_back(&CTreeWalker::RunConnection, this, std::ref(state));
    } catch (...) {
        // Fewer connections than asked still walk the tree; none at all is an error.
        if (threads.empty()) state.error = "no connection could start: " + ExceptionText();
    }
}

void CTreeWalker::RunConnection(State& state) {
    try {
        CResilientSession session(m_job, m_baseUrl, m_userName, m_password);
        const CZuError login = session.Connect();
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (login.IsError())
                state.loginError = login.ToString();
            else
                ++state.loggedIn;
        }
        if (!login.IsError()) RunUnits(state, session);
    } catch (...) {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.error.empty()) state.error = "a connection failed: " + ExceptionText();
    }
    state.changed.notify_all();
}

void CTreeWalker::RunUnits(State& state, CResilientSession& session) {
    for (;;) {
        WalkUnit unit;
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            // Done when nothing is queued and nobody holds a unit that could add more.
            while (!state.Ending() && !m_job->Cancelled() && state.queue.Empty() && state.busy > 0)
                state.changed.wait_for(lock, kIdlePoll);
            if (state.Ending() || m_job->Cancelled() || !state.queue.Pop(unit)) return;
            ++state.busy;
        }
        try {
            ListDirectory(state, session, unit);
        } catch (...) {
            // The unit's page link still points at the page not delivered.
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.error.empty()) state.error = "a connection failed: " + ExceptionText();
            state.summary.unfinished.push_back(std::move(unit));
        }
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            --state.busy;
        }
        state.changed.notify_all();
    }
}

void CTreeWalker::ListDirectory(State& state, CResilientSession& session, WalkUnit& unit) {
    Cluster::CFileSystemQueries files = session.Files();
    if (unit.id == 0 && unit.ancestorIds.empty()) LearnRootId(files, session, unit);
    std::list<Cluster::CDirectoryEntry> entries;
    std::string nextLink;
    // A cluster that hands out a link twice would send this directory round forever.
    std::unordered_set<std::string> seenLinks;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.Ending()) {
                state.summary.unfinished.push_back(std::move(unit));
                return;
            }
        }
        const CZuError error = session.Run(RequestKind::Get, [&] {
            nextLink.clear();
            return files.GetDirectoryEntries(unit.path, entries, nextLink, unit.snapshotId,
                                             unit.pageLink);
        });
        if (error.IsError()) return EndDirectory(state, session, unit, error);
        if (!DeliverPage(state, unit, entries)) return;
        unit.pageLink = nextLink;
        if (nextLink.empty()) {
            std::lock_guard<std::mutex> lock(state.mutex);
            ++state.summary.directoriesListed;
            return;
        }
        if (!seenLinks.insert(nextLink).second) {
            const CZuError repeated = FXErrorUtil::ErrorWin32(
                FX_CODE_LOCATION, kRepeatedPageLinkError, "The cluster repeated the page link [%s]",
                nextLink.c_str());
            std::lock_guard<std::mutex> lock(state.mutex);
            state.summary.failed.push_back({std::move(unit), repeated.ToString()});
            return;
        }
    }
}

void CTreeWalker::LearnRootId(Cluster::CFileSystemQueries& files, CResilientSession& session,
                              WalkUnit& unit) {
    // Attributes are read live only, so a snapshot's root keeps an unknown id. A root whose
    // attributes cannot be read keeps one too: its listing tells what is wrong.
    if (unit.snapshotId != 0) return;
    Cluster::CFileAttributeInfo attributes;
    const CZuError error = session.Run(
        RequestKind::Get, [&] { return files.GetFileAttributes(unit.path, attributes, 0); });
    if (!error.IsError()) unit.id = attributes.id;
}

bool CTreeWalker::DeliverPage(State& state, const WalkUnit& unit,
                              std::list<Cluster::CDirectoryEntry>& entries) {
    // Taken before the sink, which may move the entries away; queued only after it, so a page
    // the sink refused leaves no units behind that its repeat would queue again.
    std::vector<WalkUnit> children;
    std::vector<WalkUnit> loops;
    uint64_t bytes = 0;
    for (const Cluster::CDirectoryEntry& entry : entries) {
        if (!entry.isDirectory) {
            bytes += entry.size;
            continue;
        }
        WalkUnit child = ChildUnit(unit, entry);
        (ClosesLoop(unit, entry.id) ? loops : children).push_back(std::move(child));
    }
    const uint64_t delivered = entries.size();
    try {
        std::lock_guard<std::mutex> sinkLock(state.sinkMutex);
        if (state.sink) state.sink(entries);
    } catch (...) {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.error.empty()) state.error = "the sink failed: " + ExceptionText();
        state.summary.unfinished.push_back(unit);
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        for (WalkUnit& child : children) state.queue.Push(std::move(child));
        for (WalkUnit& loop : loops) state.summary.loops.push_back(std::move(loop));
        ++state.summary.pages;
        state.summary.entries += delivered;
        state.summary.bytes += bytes;
    }
    state.changed.notify_all();
    return true;
}

void CTreeWalker::EndDirectory(State& state, CResilientSession& session, const WalkUnit& unit,
                               const CZuError& error) {
    const bool cancelled = m_job->Cancelled() || error.GetCode() == kCancelledError;
    // A root has no parent that listed it, so its absence is a failure, not a vanishing.
    const bool vanished =
        !unit.ancestorIds.empty() && session.GetLastRequestOutcome().httpStatus == kNotFound;
    std::lock_guard<std::mutex> lock(state.mutex);
    if (cancelled)
        state.summary.unfinished.push_back(unit);
    else if (vanished)
        state.summary.vanished.push_back(unit.path);
    else
        state.summary.failed.push_back({unit, error.ToString()});
}

}  // namespace clusterwalk
