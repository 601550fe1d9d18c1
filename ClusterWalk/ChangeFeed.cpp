#include "ClusterWalk/ChangeFeed.h"

#include <string.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <deque>
#include <exception>
#include <list>
#include <map>
#include <set>
#include <unordered_set>
#include <utility>

#include "ClusterWalk/ChangeFeedCheckpoint.h"
#include "ClusterWalk/ChangeGroups.h"
#include "ClusterWalk/TextFields.h"

namespace clusterwalk {

namespace {

// How often a waiting thread looks whether the job was cancelled: Cancel() does not know the
// feed's condition variable.
constexpr std::chrono::milliseconds kIdlePoll{50};

// An error's text for a one-line summary.
std::string OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

std::string Snapshots(uint64_t older, uint64_t newer) {
    return "changes in snapshot " + std::to_string(newer) + " since " + std::to_string(older);
}

}  // namespace

// The changes of one window under one parent directory.
struct CChangeFeed::Group {
    Window* window = nullptr;
    std::string parent;
    std::vector<Cluster::CSnapshotDiffInfo> changes;
};

// Whole pages of the difference, from the page at `link`, grouped by parent. It stays until
// every group was delivered and every window before it is gone, so the oldest window's link
// and the groups delivered of the windows kept are all a checkpoint needs.
struct CChangeFeed::Window {
    uint64_t ordinal = 0;  // 0 for the first window of the run
    std::string link;
    size_t changes = 0;
    std::map<std::string, Group> groups;
    std::set<std::string> delivered;  // parents
    size_t remaining = 0;             // groups not delivered
};

struct CChangeFeed::Resume : FeedPosition {};

// One run's shared state. The mutex guards everything but the sink, which has its own; where
// both are taken, the sink's comes first.
struct CChangeFeed::State {
    State(const ChangeSink& changeSink, const ChangeFeedOptions& feedOptions, uint64_t older,
          uint64_t newer)
        : sink(changeSink),
          options(feedOptions),
          olderId(older),
          newerId(newer),
          window(std::max<size_t>(feedOptions.window, 1)) {}

    bool Ending() const { return stop || !error.empty(); }
    bool Finished() const { return readerDone && windows.empty(); }

    const ChangeSink& sink;
    const ChangeFeedOptions& options;
    const uint64_t olderId;
    const uint64_t newerId;
    size_t window;
    std::string startLink;
    std::set<DeliveredGroup> skip;  // delivered by the runs before, by window from startLink
    // Every page link the reader was given, its own: a repeat means the cluster sends the
    // difference round in a loop, which would be read forever.
    std::unordered_set<std::string> seenLinks;

    std::mutex mutex;
    std::condition_variable changed;
    std::list<std::unique_ptr<Window>> windows;
    std::deque<Group*> queue;
    // The first page not in a window yet (nor delivered, without attributes): where a resumed
    // run starts when no window is kept.
    std::string readingFrom;
    bool readerDone = false;    // the last page was read
    bool readerExited = false;  // the reader adds nothing more
    unsigned alive = 0;         // connection threads not yet ended
    unsigned loggedIn = 0;
    unsigned listing = 0;
    bool stop = false;
    bool connectionsDone = false;
    std::string error;
    std::string loginError;
    ChangeTotals totals;
    uint64_t checkpoints = 0;
    std::string checkpointError;
    JobStatistics before;
    std::mutex sinkMutex;
};

CChangeFeed::CChangeFeed(std::shared_ptr<CJob> job, std::string baseUrl, std::string userName,
                         const std::string& password, unsigned connections)
    : m_job(job ? std::move(job) : std::make_shared<CJob>()),
      m_baseUrl(std::move(baseUrl)),
      m_userName(std::move(userName)),
      m_password(password),
      m_connections(connections == 0 ? 1 : connections) {}

CChangeFeed::~CChangeFeed() {
    if (!m_password.empty()) explicit_bzero(&m_password[0], m_password.size());
}

const char* ChangeKindName(ChangeKind kind) {
    switch (kind) {
        case ChangeKind::Create:
            return "create";
        case ChangeKind::Delete:
            return "delete";
        case ChangeKind::ContentModify:
            return "content";
        case ChangeKind::MetadataModify:
            return "metadata";
        case ChangeKind::Modify:
            break;
    }
    return "modify";
}

const char* OperationName(Cluster::SnapshotDiffOperation operation) {
    switch (operation) {
        case Cluster::SNAPSHOT_DIFF_CREATE:
            return "create";
        case Cluster::SNAPSHOT_DIFF_DELETE:
            return "delete";
        case Cluster::SNAPSHOT_DIFF_MODIFY:
            return "modify";
    }
    return "unknown";
}

void CChangeFeed::Stop() {
    std::lock_guard<std::mutex> runLock(m_runMutex);
    if (m_state == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->stop = true;
    }
    m_state->changed.notify_all();
}

ChangeProgress CChangeFeed::Progress() const {
    ChangeProgress progress;
    std::lock_guard<std::mutex> runLock(m_runMutex);
    if (m_state == nullptr) return progress;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    progress.changes = m_state->totals.changes;
    progress.differencePages = m_state->totals.differencePages;
    progress.groupsPending = m_state->queue.size();
    progress.listing = m_state->listing;
    progress.retries = m_job->Statistics().retries - m_state->before.retries;
    return progress;
}

bool CChangeFeed::LoadCheckpoint(const CCheckpointFile& file, ChangeCheckpoint& checkpoint,
                                 std::string& error) {
    try {
        auto resume = std::make_unique<Resume>();
        if (!LoadFeedPosition(file, *resume, error)) return false;
        checkpoint = resume->identity;
        std::lock_guard<std::mutex> runLock(m_runMutex);
        m_resume = std::move(resume);
        return true;
    } catch (...) {
        error = "the checkpoint could not be read: " + CurrentExceptionText();
        return false;
    }
}

ChangeSummary CChangeFeed::Run(uint64_t olderSnapshotId, uint64_t newerSnapshotId,
                               const ChangeSink& sink, const ChangeFeedOptions& options) {
    try {
        return RunFeed(olderSnapshotId, newerSnapshotId, sink, options);
    } catch (...) {
        ChangeSummary summary;
        summary.earlier = options.earlier;
        summary.error = "the feed could not start: " + CurrentExceptionText();
        return summary;
    }
}

std::string CChangeFeed::Refusal(uint64_t olderSnapshotId, uint64_t newerSnapshotId,
                                 const ChangeFeedOptions& options) const {
    if (m_state != nullptr) return "the feed is already running";
    if (options.attributes && (olderSnapshotId > INT_MAX || newerSnapshotId > INT_MAX))
        return "snapshot ids above " + std::to_string(INT_MAX) + " cannot be listed";
    if (!m_resume) return std::string();
    const ChangeCheckpoint& saved = m_resume->identity;
    if (saved.olderSnapshotId != olderSnapshotId || saved.newerSnapshotId != newerSnapshotId)
        return "the checkpoint is of the " +
               Snapshots(saved.olderSnapshotId, saved.newerSnapshotId) + ", not of the " +
               Snapshots(olderSnapshotId, newerSnapshotId);
    if (saved.attributes != options.attributes)
        return std::string("the checkpoint is of a feed ") +
               (saved.attributes ? "with" : "without") + " attributes";
    return std::string();
}

ChangeSummary CChangeFeed::RunFeed(uint64_t olderSnapshotId, uint64_t newerSnapshotId,
                                   const ChangeSink& sink, const ChangeFeedOptions& options) {
    State state(sink, options, olderSnapshotId, newerSnapshotId);
    {
        std::lock_guard<std::mutex> runLock(m_runMutex);
        const std::string refusal = Refusal(olderSnapshotId, newerSnapshotId, options);
        if (!refusal.empty()) {
            ChangeSummary refused;
            refused.earlier = options.earlier;
            refused.error = refusal;
            return refused;
        }
        if (m_resume) {
            state.startLink = m_resume->link;
            state.window = m_resume->window;
            state.readerDone = m_resume->finished;
            state.skip = std::move(m_resume->delivered);
            m_resume.reset();
        }
        state.readingFrom = state.startLink;
        state.before = m_job->Statistics();
        m_state = &state;
    }
    std::thread checkpoints;
    try {
        if (options.checkpoint != nullptr)
            checkpoints = std::thread(&CChangeFeed::RunCheckpoints, this, std::ref(state));
    } catch (...) {
        // The feed goes on with the checkpoint at its end only.
        state.checkpointError = "no checkpoint thread: " + CurrentExceptionText();
    }
    std::vector<std::thread> threads;
    if (!state.readerDone) StartThreads(state, threads);
    for (std::thread& thread : threads) thread.join();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.connectionsDone = true;
    }
    state.changed.notify_all();
    if (checkpoints.joinable()) checkpoints.join();
    {
        std::lock_guard<std::mutex> runLock(m_runMutex);
        m_state = nullptr;
    }
    ChangeSummary summary;
    summary.stopped = !state.Finished() && (state.stop || m_job->Cancelled());
    if (state.error.empty() && !summary.stopped && !state.Finished())
        state.error = "no connection could log in: " + state.loginError;
    if (options.checkpoint != nullptr) SaveCheckpoint(state);
    summary.totals = state.totals;
    summary.earlier = options.earlier;
    summary.requests = m_job->Statistics() - state.before;
    summary.checkpoints = state.checkpoints;
    summary.checkpointError = state.checkpointError;
    summary.error = OneLine(state.error);
    return summary;
}

void CChangeFeed::StartThreads(State& state, std::vector<std::thread>& threads) {
    const unsigned connections = state.options.attributes ? m_connections : 0;
    threads.reserve(connections + 1);
    try {
        for (unsigned i = 0; i < connections; ++i) {
            threads.emplace_back(&CChangeFeed::RunConnection, this, std::ref(state));
            std::lock_guard<std::mutex> lock(state.mutex);
            ++state.alive;
        }
    } catch (...) {
        // Fewer connections than asked still list the groups; none at all cannot.
        if (threads.empty()) {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.error = "no connection could start: " + CurrentExceptionText();
        }
    }
    try {
        threads.emplace_back(&CChangeFeed::RunReader, this, std::ref(state));
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.readerExited = true;
            if (state.error.empty())
                state.error = "the reader could not start: " + CurrentExceptionText();
        }
        state.changed.notify_all();
    }
}

void CChangeFeed::RunReader(State& state) {
    try {
        CResilientSession session(m_job, m_baseUrl, m_userName, m_password);
        const CZuError login = session.Connect();
        if (login.IsError()) {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.error.empty())
                state.error = "no connection could log in: " + login.ToString();
        } else if (state.options.attributes) {
            ReadWindows(state, session);
        } else {
            ReadPages(state, session);
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.error.empty())
            state.error = "the difference could not be read: " + CurrentExceptionText();
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.readerExited = true;
    }
    state.changed.notify_all();
}

bool CChangeFeed::ReadPage(State& state, CResilientSession& session, std::string& link,
                           std::vector<Cluster::CSnapshotDiffInfo>& changes) {
    Cluster::CSnapshotQueries snapshots = session.Snapshots();
    std::list<Cluster::CSnapshotDiffInfo> page;
    std::string nextLink;
    const CZuError error = session.Run(RequestKind::Get, [&] {
        page.clear();
        return snapshots.GetSnapshotDiff(state.olderId, state.newerId, page, nextLink, link);
    });
    std::string failure;
    if (error.IsError() && !m_job->Cancelled() && error.GetCode() != kCancelledError)
        failure = error.ToString();
    else if (!error.IsError() && !nextLink.empty() && !state.seenLinks.insert(nextLink).second)
        failure = "the cluster repeated the page link [" + nextLink + "]";
    if (error.IsError() || !failure.empty()) {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.error.empty() && !failure.empty())
            state.error = Snapshots(state.olderId, state.newerId) + ": the page at [" +
                          (link.empty() ? "the start" : link) + "] failed: " + failure;
        return false;
    }
    changes.assign(std::make_move_iterator(page.begin()), std::make_move_iterator(page.end()));
    link = std::move(nextLink);
    std::lock_guard<std::mutex> lock(state.mutex);
    ++state.totals.differencePages;
    return true;
}

void CChangeFeed::ReadPages(State& state, CResilientSession& session) {
    std::string link = state.startLink;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.Ending() || m_job->Cancelled()) return;
        }
        std::vector<Cluster::CSnapshotDiffInfo> changes;
        if (!ReadPage(state, session, link, changes)) return;
        std::vector<ChangeRecord> records;
        records.reserve(changes.size());
        for (const Cluster::CSnapshotDiffInfo& change : changes)
            records.push_back(PlainRecord(change));
        ChangeTotals counts;
        CountRecords(records, false, counts);
        const bool delivered = Deliver(state, records, counts, [&] {
            state.readingFrom = link;
            state.readerDone = link.empty();
        });
        if (!delivered || link.empty()) return;
    }
}

void CChangeFeed::ReadWindows(State& state, CResilientSession& session) {
    std::string link = state.startLink;
    for (uint64_t ordinal = 0;; ++ordinal) {
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            while (!state.Ending() && !m_job->Cancelled() && state.alive > 0 &&
                   state.windows.size() >= 2)
                state.changed.wait_for(lock, kIdlePoll);
            if (state.Ending() || m_job->Cancelled() || state.alive == 0) return;
        }
        auto window = std::make_unique<Window>();
        window->ordinal = ordinal;
        if (!FillWindow(state, session, link, *window)) return;
        AddWindow(state, std::move(window), link);
        if (link.empty()) return;
    }
}

bool CChangeFeed::FillWindow(State& state, CResilientSession& session, std::string& link,
                             Window& window) {
    window.link = link;
    do {
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.Ending() || m_job->Cancelled()) return false;
        }
        std::vector<Cluster::CSnapshotDiffInfo> changes;
        if (!ReadPage(state, session, link, changes)) return false;
        window.changes += changes.size();
        for (Cluster::CSnapshotDiffInfo& change : changes) {
            Group& group = window.groups[ParentOf(change.path)];
            group.changes.push_back(std::move(change));
        }
    } while (window.changes < state.window && !link.empty());
    return true;
}

void CChangeFeed::AddWindow(State& state, std::unique_ptr<Window> window,
                            const std::string& nextLink) {
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        for (auto& [parent, group] : window->groups) {
            group.window = window.get();
            group.parent = parent;
            if (state.skip.count({window->ordinal, parent}) != 0) {
                window->delivered.insert(parent);
            } else {
                ++window->remaining;
                state.queue.push_back(&group);
            }
        }
        state.windows.push_back(std::move(window));
        state.readingFrom = nextLink;
        state.readerDone = nextLink.empty();
        DropDelivered(state);
    }
    state.changed.notify_all();
}

void CChangeFeed::DropDelivered(State& state) {
    while (!state.windows.empty() && state.windows.front()->remaining == 0)
        state.windows.pop_front();
}

void CChangeFeed::RunConnection(State& state) {
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
        if (!login.IsError()) ListGroups(state, session);
    } catch (...) {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.error.empty()) state.error = "a connection failed: " + CurrentExceptionText();
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        --state.alive;
    }
    state.changed.notify_all();
}

void CChangeFeed::ListGroups(State& state, CResilientSession& session) {
    for (;;) {
        Group* group = nullptr;
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            // Done when nothing is queued and the reader will queue nothing more.
            while (!state.Ending() && !m_job->Cancelled() && state.queue.empty() &&
                   !state.readerExited)
                state.changed.wait_for(lock, kIdlePoll);
            if (state.Ending() || m_job->Cancelled() || state.queue.empty()) return;
            group = state.queue.front();
            state.queue.pop_front();
            ++state.listing;
        }
        try {
            ListGroup(state, session, *group);
        } catch (...) {
            // The group stays in its window, so a checkpoint still holds it as not delivered.
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.error.empty()) state.error = "a connection failed: " + CurrentExceptionText();
        }
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            --state.listing;
        }
        state.changed.notify_all();
    }
}

bool CChangeFeed::Listed(State& state, const ParentListing& listing, const std::string& parent,
                         uint64_t snapshotId) {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.totals.listingPages += listing.pages;
    if (listing.end == ParentListing::End::Failed && state.error.empty())
        state.error = Snapshots(state.olderId, state.newerId) + ": the listing of " + parent +
                      " as of snapshot " + std::to_string(snapshotId) + " failed: " + listing.error;
    return listing.end == ParentListing::End::Read || listing.end == ParentListing::End::Missing;
}

void CChangeFeed::ListGroup(State& state, CResilientSession& session, Group& group) {
    std::set<std::string> wanted;
    bool modify = false;
    for (const Cluster::CSnapshotDiffInfo& change : group.changes) {
        if (change.operation == Cluster::SNAPSHOT_DIFF_DELETE) continue;
        wanted.insert(PathKey(change.path));
        modify = modify || change.operation == Cluster::SNAPSHOT_DIFF_MODIFY;
    }
    // Deletes need no listing, nor does a path with no parent to list.
    const bool list = !wanted.empty() && !group.parent.empty();
    ParentListing newer;
    ParentListing older;
    if (list) {
        newer = ListParent(session, group.parent, static_cast<int>(state.newerId), wanted);
        if (!Listed(state, newer, group.parent, state.newerId)) return;
    }
    if (list && modify) {
        older = ListParent(session, group.parent, static_cast<int>(state.olderId), wanted);
        if (!Listed(state, older, group.parent, state.olderId)) return;
    }
    std::vector<ChangeRecord> records =
        MakeRecords(group.changes, list ? &newer : nullptr, list && modify ? &older : nullptr);
    ChangeTotals counts;
    CountRecords(records, true, counts);
    Deliver(state, records, counts, [&] {
        Window& window = *group.window;
        window.delivered.insert(group.parent);
        --window.remaining;
        DropDelivered(state);
    });
}

bool CChangeFeed::Deliver(State& state, std::vector<ChangeRecord>& records,
                          const ChangeTotals& counts, const std::function<void()>& delivered) {
    {
        std::lock_guard<std::mutex> sinkLock(state.sinkMutex);
        try {
            if (state.sink && !records.empty()) state.sink(records);
        } catch (...) {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.error.empty()) state.error = "the sink failed: " + CurrentExceptionText();
            return false;
        }
        std::lock_guard<std::mutex> lock(state.mutex);
        state.totals += counts;
        delivered();
    }
    state.changed.notify_all();
    return true;
}

void CChangeFeed::RunCheckpoints(State& state) {
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

void CChangeFeed::SaveCheckpoint(State& state) {
    std::lock_guard<std::mutex> sinkLock(state.sinkMutex);
    FeedPosition position;
    try {
        if (state.options.commit) position.identity.note = state.options.commit();
    } catch (...) {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.checkpointError = "the output could not be committed: " + CurrentExceptionText();
        return;
    }
    std::lock_guard<std::mutex> lock(state.mutex);
    position.identity.olderSnapshotId = state.olderId;
    position.identity.newerSnapshotId = state.newerId;
    position.identity.attributes = state.options.attributes;
    position.identity.totals = state.options.earlier;
    position.identity.totals += state.totals;
    position.window = state.window;
    position.finished = state.Finished();
    position.link = state.windows.empty() ? state.readingFrom : state.windows.front()->link;
    for (const std::unique_ptr<Window>& window : state.windows) {
        const uint64_t ordinal = window->ordinal - state.windows.front()->ordinal;
        for (const std::string& parent : window->delivered)
            position.delivered.insert({ordinal, parent});
    }
    std::string error;
    if (SaveFeedPosition(*state.options.checkpoint, position, error))
        ++state.checkpoints;
    else
        state.checkpointError = error;
}

}  // namespace clusterwalk
