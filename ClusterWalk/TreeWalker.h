// Walks whole trees over several connections at once. Each connection is its own resilient
// session on one shared job, so the job's rate limit, retry budget and cancellation hold for
// the whole walk. Idle connections take directories (units) from one shared queue; whoever
// holds a unit reads that directory's pages in order, and each subdirectory found becomes a
// new unit.
//
//     auto job = std::make_shared<clusterwalk::CJob>(options);
//     clusterwalk::CTreeWalker walker(job, url, user, password);
//     clusterwalk::WalkSummary summary = walker.Walk({clusterwalk::RootUnit("/home/", 0)},
//         [](std::list<Cluster::CDirectoryEntry>& entries) { Store(entries); });
//     for (const clusterwalk::WalkUnit& unit : summary.unfinished) Save(FormatUnit(unit));
//
// The sink is called from the walker's threads, one call at a time (the walker serializes
// them), with each page of entries once the page was read whole. Every entry is delivered
// exactly once, in no defined order. A sink that throws stops the walk, and its page counts
// as not delivered.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "ClusterWalk/ClusterWalkExport.h"
#include "ClusterWalk/Job.h"
#include "ClusterWalk/ResilientSession.h"
#include "ClusterWalk/WalkUnit.h"

namespace clusterwalk {

// The units waiting for a connection. Only the walker calls it, under its own lock, so an
// implementation need not be thread-safe. The walker keeps its queue in memory; one that
// spills to a file when it grows plugs in here.
class CLUSTERWALK_API CUnitQueue {
  public:
    virtual ~CUnitQueue();
    virtual void Push(WalkUnit unit) = 0;
    // False when empty.
    virtual bool Pop(WalkUnit& unit) = 0;
    virtual bool Empty() const = 0;
};

// Takes one page of entries; the walker is done with them, so the sink may move them away.
using EntrySink = std::function<void(std::list<Cluster::CDirectoryEntry>& entries)>;

// A unit the walk gave up on, and why.
struct FailedUnit {
    WalkUnit unit;
    std::string error;
};

struct WalkSummary {
    uint64_t directoriesListed = 0;  // read to their last page
    uint64_t pages = 0;
    uint64_t entries = 0;    // delivered to the sink
    uint64_t bytes = 0;      // the sizes of the delivered entries that are not directories
    JobStatistics requests;  // what the job counted while the walk ran
    // Directories that were gone (HTTP 404) when listed, after their parent had listed them.
    std::vector<std::string> vanished;
    // Directories that ended in any other error; their units resume them where they stopped.
    std::vector<FailedUnit> failed;
    // Directories not entered because their id is that of one above them: the unit that
    // would have entered each.
    std::vector<WalkUnit> loops;
    // What a stopped or cancelled walk had not finished, each from the page it had not
    // delivered; a walk started from them delivers exactly the entries this one did not.
    std::vector<WalkUnit> unfinished;
    bool stopped = false;  // Stop() or the job's Cancel() ended it before its end
    // Why the walk could not go on at all (no connection could log in, the sink threw, memory
    // ran out); empty otherwise. The units it did not finish are in `unfinished`.
    std::string error;

    // True when every directory was read whole: nothing failed, nothing left unfinished.
    bool Complete() const { return failed.empty() && unfinished.empty() && error.empty(); }
};

class CTreeWalker {
  public:
    static constexpr unsigned kDefaultConnections = 16;

    // The password is kept in this object's memory only, and wiped when it is destroyed.
    // `queue` null: an in-memory queue.
    CLUSTERWALK_API CTreeWalker(std::shared_ptr<CJob> job, std::string baseUrl,
                                std::string userName, const std::string& password,
                                unsigned connections = kDefaultConnections,
                                std::unique_ptr<CUnitQueue> queue = nullptr);
    CLUSTERWALK_API ~CTreeWalker();
    CTreeWalker(const CTreeWalker&) = delete;
    CTreeWalker& operator=(const CTreeWalker&) = delete;

    // Walks from `start` until every directory below was read, the walk was stopped, or it
    // could not go on; blocks until then. One walk at a time per walker.
    CLUSTERWALK_API WalkSummary Walk(std::vector<WalkUnit> start, const EntrySink& sink);

    // From any thread, the sink included: ends the walk after the pages in flight, which are
    // delivered. The job's Cancel() ends it at once instead, dropping the pages in flight.
    CLUSTERWALK_API void Stop();

  private:
    struct State;
    void RunConnection(State& state);
    void RunUnits(State& state, CResilientSession& session);
    void ListDirectory(State& state, CResilientSession& session, WalkUnit& unit);
    void LearnRootId(Cluster::CFileSystemQueries& files, CResilientSession& session,
                     WalkUnit& unit);
    bool DeliverPage(State& state, const WalkUnit& unit,
                     std::list<Cluster::CDirectoryEntry>& entries);
    void EndDirectory(State& state, CResilientSession& session, const WalkUnit& unit,
                      const CZuError& error);
    WalkSummary RunWalk(std::vector<WalkUnit> start, const EntrySink& sink);
    void StartConnections(State& state, std::vector<std::thread>& threads);

    const std::shared_ptr<CJob> m_job;
    const std::string m_baseUrl;
    const std::string m_userName;
    std::string m_password;
    const unsigned m_connections;
    std::unique_ptr<CUnitQueue> m_queue;
    std::mutex m_walkMutex;    // guards m_state
    State* m_state = nullptr;  // the walk under way, for Stop
};

}  // namespace clusterwalk
