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

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Cluster/ClusterParser.h"
#include "ClusterWalk/Checkpoint.h"
#include "ClusterWalk/ClusterWalkExport.h"
#include "ClusterWalk/Job.h"
#include "ClusterWalk/ResilientSession.h"
#include "ClusterWalk/UnitQueue.h"
#include "ClusterWalk/WalkUnit.h"

namespace clusterwalk {

// Takes one page of entries; the walker is done with them, so the sink may move them away.
using EntrySink = std::function<void(std::list<Cluster::CDirectoryEntry>& entries)>;

// A unit the walk gave up on, and why.
struct FailedUnit {
    WalkUnit unit;
    std::string error;
};

struct WalkOptions {
    // Only directories less deep than this below a start are listed (a start is 0 deep, its
    // subdirectories 1), so entries at most this deep are delivered.
    size_t maxDepth = SIZE_MAX;
    // Null: no checkpoints. Otherwise one is saved every `checkpointInterval` and when the walk
    // ends, holding every unit not done (failed ones included, so a resumed walk retries them).
    CCheckpointFile* checkpoint = nullptr;
    std::chrono::milliseconds checkpointInterval{10000};
    // Called with deliveries paused just before a checkpoint is saved: make what the sink has
    // written so far durable, and return the note to save with it. If it throws, that
    // checkpoint is not saved.
    std::function<std::string()> commit;
    // What the runs before this one delivered, from the checkpoint resumed.
    WalkTotals earlier;
};

// What a walk is doing, for a progress line.
struct WalkProgress {
    uint64_t entries = 0;  // delivered by this run
    uint64_t pending = 0;  // directories found and not yet taken
    unsigned listing = 0;  // directories being listed
    uint64_t retries = 0;  // by the job during this run
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
    bool stopped = false;         // Stop() or the job's Cancel() ended it before its end
    WalkTotals earlier;           // what the runs before this one did (WalkOptions::earlier)
    uint64_t checkpoints = 0;     // saved
    std::string checkpointError;  // why the last one that failed was not saved; empty if none
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
    // `queue` null: a CSpillingUnitQueue with its defaults.
    CLUSTERWALK_API CTreeWalker(std::shared_ptr<CJob> job, std::string baseUrl,
                                std::string userName, const std::string& password,
                                unsigned connections = kDefaultConnections,
                                std::unique_ptr<CUnitQueue> queue = nullptr);
    CLUSTERWALK_API ~CTreeWalker();
    CTreeWalker(const CTreeWalker&) = delete;
    CTreeWalker& operator=(const CTreeWalker&) = delete;

    // Walks from `start` and the units loaded from a checkpoint until every directory below
    // was read, the walk was stopped, or it could not go on; blocks until then. One walk at a
    // time per walker.
    CLUSTERWALK_API WalkSummary Walk(std::vector<WalkUnit> start, const EntrySink& sink,
                                     const WalkOptions& options = WalkOptions());

    // Queues the checkpoint's units for the next Walk and gives its header (pass its totals
    // on as WalkOptions::earlier). False, queueing nothing, when the file is not a whole
    // checkpoint.
    CLUSTERWALK_API bool LoadCheckpoint(const CCheckpointFile& file, CheckpointHeader& header,
                                        std::string& error);

    // From any thread while a walk runs; all zero otherwise.
    CLUSTERWALK_API WalkProgress Progress() const;

    // From any thread, the sink included: ends the walk after the pages in flight, which are
    // delivered. The job's Cancel() ends it at once instead, dropping the pages in flight.
    CLUSTERWALK_API void Stop();

  private:
    struct State;
    struct Slot;
    void RunConnection(State& state, unsigned index);
    void RunUnits(State& state, Slot& slot, CResilientSession& session);
    void ListDirectory(State& state, Slot& slot, CResilientSession& session);
    void LearnRootId(State& state, Slot& slot, CResilientSession& session);
    bool DeliverPage(State& state, Slot& slot, std::list<Cluster::CDirectoryEntry>& entries,
                     const std::string& nextLink);
    void EndDirectory(State& state, Slot& slot, CResilientSession& session, const CZuError& error);
    void EndUnfinished(State& state, Slot& slot);
    WalkSummary RunWalk(std::vector<WalkUnit> start, const EntrySink& sink,
                        const WalkOptions& options);
    void StartConnections(State& state, std::vector<std::thread>& threads);
    void RunCheckpoints(State& state);
    void SaveCheckpoint(State& state);
    void ForEachUnitNotDone(State& state, const CCheckpointFile::UnitVisitor& visit);

    const std::shared_ptr<CJob> m_job;
    const std::string m_baseUrl;
    const std::string m_userName;
    std::string m_password;
    const unsigned m_connections;
    std::unique_ptr<CUnitQueue> m_queue;
    mutable std::mutex m_walkMutex;  // guards m_state
    State* m_state = nullptr;        // the walk under way, for Stop
};

}  // namespace clusterwalk
