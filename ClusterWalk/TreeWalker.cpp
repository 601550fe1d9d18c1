#include "ClusterWalk/TreeWalker.h"

#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <unordered_set>
#include <utility>

#include "ClusterWalk/PageReader.h"
#include "ClusterWalk/TextFields.h"

namespace clusterwalk {

namespace {

constexpr long kBadRequest = 400;
constexpr long kNotFound = 404;
constexpr long kGone = 410;
// How often an idle connection looks whether the job was cancelled: Cancel() does not know
// the walker's condition variable.
constexpr std::chrono::milliseconds kIdlePoll{50};

// A page link the cluster turned down, or the library refused before sending: one saved by an
// earlier run may have expired. Listing the directory afresh and skipping what was delivered
// gets the same entries, as the order of a listing is stable.
bool LinkRejected(const WalkUnit& unit, const Cluster::CRequestOutcome& outcome) {
    if (unit.pageLink.empty()) return false;
    const long status = outcome.httpStatus;
    const bool refusedBeforeSending = !outcome.sent && status == 0 && outcome.transportCode == 0;
    return status == kBadRequest || status == kNotFound || status == kGone || refusedBeforeSending;
}

}  // namespace

// What one connection is listing. `unit` mirrors the connection's progress as of its last
// delivered page, so a checkpoint taken with both locks held sees every unit exactly once:
// queued, in a slot, or in the summary's lists.
struct CTreeWalker::Slot {
    WalkUnit unit;
    bool busy = false;  // written under the walk's mutex, and under the sink's too when delivering
    uint64_t skip = 0;  // entries of a restarted listing still to pass over
};

// One walk's shared state. The mutex guards everything but the sink, which has its own so a
// slow sink never holds back a connection that only wants its next unit. Where both are taken,
// the sink's comes first.
struct CTreeWalker::State {
    State(CUnitQueue& units, const EntrySink& entrySink, const WalkOptions& walkOptions,
          unsigned connections)
        : queue(units), sink(entrySink), options(walkOptions), slots(connections) {}

    // Under the mutex.
    bool Ending() const { return stop || !error.empty(); }
    unsigned Busy() const {
        return static_cast<unsigned>(
            std::count_if(slots.begin(), slots.end(), [](const Slot& slot) { return slot.busy; }));
    }

    CUnitQueue& queue;
    const EntrySink& sink;
    const WalkOptions& options;
    std::vector<Slot> slots;
    std::mutex mutex;
    std::condition_variable changed;
    unsigned loggedIn = 0;
    bool stop = false;
    bool connectionsDone = false;
    std::string error;       // what ended the walk for everyone
    std::string loginError;  // the last login that failed
    WalkSummary summary;
    JobStatistics before;
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
      m_queue(queue ? std::move(queue) : std::make_unique<CSpillingUnitQueue>()) {}

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

WalkProgress CTreeWalker::Progress() const {
    WalkProgress progress;
    std::lock_guard<std::mutex> walkLock(m_walkMutex);
    if (m_state == nullptr) return progress;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    progress.entries = m_state->summary.entries;
    progress.pending = m_state->queue.Size();
    progress.listing = m_state->Busy();
    progress.retries = m_job->Statistics().retries - m_state->before.retries;
    return progress;
}

bool CTreeWalker::LoadCheckpoint(const CCheckpointFile& file, CheckpointHeader& header,
                                 std::string& error) {
    try {
        if (file.Load(
                header, [this](const WalkUnit& unit) { m_queue->Push(unit); }, error))
            return true;
    } catch (...) {
        error = "the checkpoint's units could not be queued: " + CurrentExceptionText();
    }
    WalkUnit dropped;
    while (m_queue->Pop(dropped)) {
    }
    return false;
}

WalkSummary CTreeWalker::Walk(std::vector<WalkUnit> start, const EntrySink& sink,
                              const WalkOptions& options) {
    try {
        return RunWalk(std::move(start), sink, options);
    } catch (...) {
        WalkSummary summary;
        summary.error = "the walk could not start: " + CurrentExceptionText();
        return summary;
    }
}

WalkSummary CTreeWalker::RunWalk(std::vector<WalkUnit> start, const EntrySink& sink,
                                 const WalkOptions& options) {
    State state(*m_queue, sink, options, m_connections);
    state.before = m_job->Statistics();
    for (WalkUnit& unit : start) m_queue->Push(std::move(unit));
    {
        std::lock_guard<std::mutex> walkLock(m_walkMutex);
        m_state = &state;
    }
    std::thread checkpoints;
    if (options.checkpoint != nullptr)
        checkpoints = std::thread(&CTreeWalker::RunCheckpoints, this, std::ref(state));
    std::vector<std::thread> threads;
    StartConnections(state, threads);
    for (std::thread& thread : threads) thread.join();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.connectionsDone = true;
    }
    state.changed.notify_all();
    if (checkpoints.joinable()) checkpoints.join();
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
    summary.requests = m_job->Statistics() - state.before;
    summary.earlier = options.earlier;
    if (options.checkpoint != nullptr) SaveCheckpoint(state);
    return std::move(summary);
}

void CTreeWalker::StartConnections(State& state, std::vector<std::thread>& threads) {
    threads.reserve(m_connections);
    try {
        for (unsigned i = 0; i < m_connections; ++i)
            threads.emplace_back(&CTreeWalker::RunConnection, this, std::ref(state), i);
    } catch (...) {
        // Fewer connections than asked still walk the tree; none at all is an error.
        if (threads.empty()) state.error = "no connection could start: " + CurrentExceptionText();
    }
}

void CTreeWalker::RunConnection(State& state, unsigned index) {
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
        if (!login.IsError()) RunUnits(state, state.slots[index], session);
    } catch (...) {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.error.empty()) state.error = "a connection failed: " + CurrentExceptionText();
    }
    state.changed.notify_all();
}

void CTreeWalker::RunUnits(State& state, Slot& slot, CResilientSession& session) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            // Done when nothing is queued and nobody holds a unit that could add more.
            while (!state.Ending() && !m_job->Cancelled() && state.queue.Empty() &&
                   state.Busy() > 0)
                state.changed.wait_for(lock, kIdlePoll);
            if (state.Ending() || m_job->Cancelled() || !state.queue.Pop(slot.unit)) return;
            slot.busy = true;
            slot.skip = 0;
        }
        try {
            ListDirectory(state, slot, session);
        } catch (...) {
            // The slot's unit still points at the page not delivered.
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.error.empty()) state.error = "a connection failed: " + CurrentExceptionText();
            if (slot.busy) {
                state.summary.unfinished.push_back(slot.unit);
                slot.busy = false;
            }
        }
        state.changed.notify_all();
    }
}

void CTreeWalker::ListDirectory(State& state, Slot& slot, CResilientSession& session) {
    if (slot.unit.id == 0 && slot.unit.ancestorIds.empty()) LearnRootId(state, slot, session);
    WalkUnit unit = slot.unit;  // this connection's own copy; the slot changes under the locks
    // Fetches each next page while the sink takes this one.
    CDirectoryPageReader reader(session, unit.path, unit.snapshotId);
    std::list<Cluster::CDirectoryEntry> entries;
    std::string nextLink;
    // A cluster that hands out a link twice would send this directory round forever.
    std::unordered_set<std::string> seenLinks;
    bool restarted = false;
    for (;;) {
        bool ending = false;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            ending = state.Ending();
        }
        if (ending) return EndUnfinished(state, slot);
        nextLink.clear();
        const CZuError error = reader.Read(unit.pageLink, entries, nextLink);
        if (error.IsError() && !restarted && !m_job->Cancelled() &&
            LinkRejected(unit, session.GetLastRequestOutcome())) {
            restarted = true;
            slot.skip = unit.delivered;
            unit.pageLink.clear();
            continue;
        }
        if (error.IsError()) return EndDirectory(state, slot, session, error);
        if (!DeliverPage(state, slot, entries, nextLink)) return;
        if (nextLink.empty()) return;
        unit.pageLink = nextLink;
        if (!seenLinks.insert(nextLink).second) {
            const CZuError repeated = FXErrorUtil::ErrorWin32(
                FX_CODE_LOCATION, kRepeatedPageLinkError, "The cluster repeated the page link [%s]",
                nextLink.c_str());
            std::lock_guard<std::mutex> lock(state.mutex);
            state.summary.failed.push_back({slot.unit, repeated.ToString()});
            slot.busy = false;
            return;
        }
    }
}

void CTreeWalker::LearnRootId(State& state, Slot& slot, CResilientSession& session) {
    // Attributes are read live only, so a snapshot's root keeps an unknown id. A root whose
    // attributes cannot be read keeps one too: its listing tells what is wrong.
    if (slot.unit.snapshotId != 0) return;
    Cluster::CFileSystemQueries files = session.Files();
    Cluster::CFileAttributeInfo attributes;
    const std::string path = slot.unit.path;
    const CZuError error =
        session.Run(RequestKind::Get, [&] { return files.GetFileAttributes(path, attributes, 0); });
    if (error.IsError()) return;
    std::lock_guard<std::mutex> sinkLock(state.sinkMutex);
    std::lock_guard<std::mutex> lock(state.mutex);
    slot.unit.id = attributes.id;
}

bool CTreeWalker::DeliverPage(State& state, Slot& slot,
                              std::list<Cluster::CDirectoryEntry>& entries,
                              const std::string& nextLink) {
    // A restarted listing passes over what an earlier run delivered; their subdirectories
    // were queued then.
    const uint64_t passed = std::min<uint64_t>(slot.skip, entries.size());
    entries.erase(entries.begin(), std::next(entries.begin(), static_cast<long>(passed)));
    // Taken before the sink, which may move the entries away; queued only after it, so a page
    // the sink refused leaves no units behind that its repeat would queue again.
    std::vector<WalkUnit> children;
    std::vector<WalkUnit> loops;
    uint64_t bytes = 0;
    const bool enterChildren = UnitDepth(slot.unit) + 1 < state.options.maxDepth;
    for (const Cluster::CDirectoryEntry& entry : entries) {
        if (!entry.isDirectory) {
            bytes += entry.size;
            continue;
        }
        if (!enterChildren) continue;
        WalkUnit child = ChildUnit(slot.unit, entry);
        (ClosesLoop(slot.unit, entry.id) ? loops : children).push_back(std::move(child));
    }
    const uint64_t delivered = entries.size();
    std::lock_guard<std::mutex> sinkLock(state.sinkMutex);
    try {
        if (state.sink && delivered > 0) state.sink(entries);
    } catch (...) {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.error.empty()) state.error = "the sink failed: " + CurrentExceptionText();
        state.summary.unfinished.push_back(slot.unit);
        slot.busy = false;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        for (WalkUnit& child : children) state.queue.Push(std::move(child));
        for (WalkUnit& loop : loops) state.summary.loops.push_back(std::move(loop));
        ++state.summary.pages;
        state.summary.entries += delivered;
        state.summary.bytes += bytes;
        slot.skip -= passed;
        slot.unit.delivered += delivered;
        slot.unit.pageLink = nextLink;
        if (nextLink.empty()) {
            ++state.summary.directoriesListed;
            slot.busy = false;
        }
    }
    state.changed.notify_all();
    return true;
}

void CTreeWalker::EndUnfinished(State& state, Slot& slot) {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.summary.unfinished.push_back(slot.unit);
    slot.busy = false;
}

void CTreeWalker::EndDirectory(State& state, Slot& slot, CResilientSession& session,
                               const CZuError& error) {
    const bool cancelled = m_job->Cancelled() || error.GetCode() == kCancelledError;
    // A root has no parent that listed it, so its absence is a failure, not a vanishing.
    const bool vanished =
        !slot.unit.ancestorIds.empty() && session.GetLastRequestOutcome().httpStatus == kNotFound;
    if (cancelled) return EndUnfinished(state, slot);
    std::lock_guard<std::mutex> lock(state.mutex);
    if (vanished)
        state.summary.vanished.push_back(slot.unit.path);
    else
        state.summary.failed.push_back({slot.unit, error.ToString()});
    slot.busy = false;
}

void CTreeWalker::RunCheckpoints(State& state) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            state.changed.wait_for(lock, state.options.checkpointInterval,
                                   [&] { return state.connectionsDone; });
            if (state.connectionsDone) return;
        }
        SaveCheckpoint(state);
    }
}

void CTreeWalker::SaveCheckpoint(State& state) {
    std::lock_guard<std::mutex> sinkLock(state.sinkMutex);
    CheckpointHeader header;
    try {
        if (state.options.commit) header.note = state.options.commit();
    } catch (...) {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.summary.checkpointError =
            "the output could not be committed: " + CurrentExceptionText();
        return;
    }
    std::lock_guard<std::mutex> lock(state.mutex);
    const WalkSummary& summary = state.summary;
    header.totals = state.options.earlier;
    header.totals.directoriesListed += summary.directoriesListed;
    header.totals.pages += summary.pages;
    header.totals.entries += summary.entries;
    header.totals.bytes += summary.bytes;
    header.totals.vanished += summary.vanished.size();
    header.totals.loops += summary.loops.size();
    std::string error;
    const bool saved = state.options.checkpoint->Save(
        header,
        [&](const CCheckpointFile::UnitVisitor& visit) { ForEachUnitNotDone(state, visit); },
        error);
    if (saved)
        ++state.summary.checkpoints;
    else
        state.summary.checkpointError = error;
}

void CTreeWalker::ForEachUnitNotDone(State& state, const CCheckpointFile::UnitVisitor& visit) {
    state.queue.ForEach(visit);
    for (const Slot& slot : state.slots) {
        if (slot.busy) visit(slot.unit);
    }
    for (const FailedUnit& failed : state.summary.failed) visit(failed.unit);
    for (const WalkUnit& unit : state.summary.unfinished) visit(unit);
}

}  // namespace clusterwalk
