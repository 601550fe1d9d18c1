// The changes between two snapshots as records a backup can act on: the operation, the path
// and, for creates and modifies, the attributes as of the newer snapshot, with each modify told
// apart as a change of content or of metadata only.
//
//     auto job = std::make_shared<clusterwalk::CJob>(options);
//     clusterwalk::CChangeFeed feed(job, url, user, password);
//     clusterwalk::ChangeSummary summary = feed.Run(olderId, newerId,
//         [](std::vector<clusterwalk::ChangeRecord>& changes) { Plan(changes); });
//
// The difference is read page by page on one connection. Attributes come from directory
// listings as of each snapshot (the attribute query reads the live tree, which may have changed
// since): the changes are taken a window at a time, grouped by parent directory, and each
// group's parent is listed once as of the newer snapshot, and once more as of the older one
// when the group holds a modify to classify. The groups are spread over the connections, which
// share the job's rate limit, retry budget and cancellation; the reader fills the next window
// while the current one's groups are listed, so no connection waits at a window's end.
//
// Requests: one per page of the difference (P pages for C changes), read on the reader's own
// connection, plus for each group the pages of its parent's listing as of the newer snapshot,
// and as of the older one too when the group holds a modify; deletes, and a path with no
// parent, need no listing. A change therefore costs P/C + (its group's listing pages)/(the
// changes in its group): changes that cluster in few directories cost a fraction of a request
// each, a lone change in a big directory costs that directory's listing. The listings run on
// the N connections at once, the difference alongside them.
//
// The sink is called from the feed's threads, one call at a time, with each group's records
// once they are complete (without attributes: each page's records as it comes). Every change
// is delivered exactly once, in no defined order; memory stays within two windows however long
// the difference is, and a parent listing keeps only the entries its group wants.
//
// A failure that the session's retries do not mend (a page of the difference, a listing) ends
// the feed after the groups in flight; a parent that did not exist as of a snapshot (HTTP 404)
// is no failure: its changes come without attributes. With a checkpoint, a resumed feed reads
// the difference again from the oldest window not fully delivered (windows are rebuilt alike:
// the same pages by the same rule, with the window size the checkpoint saved) and passes over
// the groups already delivered.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
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

namespace clusterwalk {

enum class ChangeKind {
    Create,
    Delete,
    ContentModify,   // size or modification time differ between the two snapshots
    MetadataModify,  // only mode, owner, group or change time differ
    Modify,          // a modify that could not be told: no attributes, or none of those differ
};

struct ChangeRecord {
    Cluster::SnapshotDiffOperation operation = Cluster::SNAPSHOT_DIFF_CREATE;
    ChangeKind kind = ChangeKind::Create;
    std::string path;          // as the difference spells it: a directory's ends with "/"
    bool isDirectory = false;  // from the path, as the difference gives it
    // False for deletes, for a feed without attributes, and for a path its parent's listing
    // as of the newer snapshot did not hold (or a parent missing as of that snapshot).
    bool hasAttributes = false;
    Cluster::CDirectoryEntry attributes;  // as of the newer snapshot, when hasAttributes
};

// Takes one batch of records; the feed is done with them, so the sink may move them away.
using ChangeSink = std::function<void(std::vector<ChangeRecord>& changes)>;

// What a feed (or the runs of it before a resume) delivered and read.
struct ChangeTotals {
    uint64_t changes = 0;  // delivered
    uint64_t creates = 0;
    uint64_t deletes = 0;
    uint64_t contentModifies = 0;
    uint64_t metadataModifies = 0;
    uint64_t otherModifies = 0;  // ChangeKind::Modify
    // Creates and modifies delivered without attributes by a feed that asked for them.
    uint64_t withoutAttributes = 0;
    uint64_t differencePages = 0;  // pages of the difference read
    uint64_t listingPages = 0;     // pages of parent listings read

    ChangeTotals& operator+=(const ChangeTotals& more) {
        changes += more.changes;
        creates += more.creates;
        deletes += more.deletes;
        contentModifies += more.contentModifies;
        metadataModifies += more.metadataModifies;
        otherModifies += more.otherModifies;
        withoutAttributes += more.withoutAttributes;
        differencePages += more.differencePages;
        listingPages += more.listingPages;
        return *this;
    }
};

struct ChangeFeedOptions {
    // False: operation and path only, straight from the difference's pages (one request per
    // page, no listing).
    bool attributes = true;
    // Changes grouped by parent at a time; whole pages of the difference are taken until a
    // window holds at least this many. Two windows at most are in memory. A resumed feed keeps
    // the size its checkpoint saved, so that its windows are those of the interrupted run.
    size_t window = 10000;
    // As for the tree walker (WalkOptions): null, no checkpoints; otherwise one every
    // `checkpointInterval` and when the feed ends, with `commit` run just before each, while
    // deliveries are paused. A feed that ended complete saves one that says so (a run resumed
    // from it delivers nothing); removing it is the caller's business.
    CCheckpointFile* checkpoint = nullptr;
    std::chrono::milliseconds checkpointInterval{10000};
    std::function<std::string()> commit;
    ChangeTotals earlier;  // what the runs before this one delivered, from the checkpoint
};

struct ChangeProgress {
    uint64_t changes = 0;          // delivered by this run
    uint64_t differencePages = 0;  // read by this run
    uint64_t groupsPending = 0;    // groups found and not yet taken
    unsigned listing = 0;          // groups being listed
    uint64_t retries = 0;          // by the job during this run
};

struct ChangeSummary {
    ChangeTotals totals;  // this run's
    ChangeTotals earlier;
    JobStatistics requests;  // what the job counted while the feed ran
    bool stopped = false;    // Stop() or the job's Cancel() ended it before its end
    uint64_t checkpoints = 0;
    std::string checkpointError;  // why the last checkpoint that failed was not saved
    // Why the feed could not go on (a page of the difference or a listing failed for good, no
    // connection could log in, the sink threw); empty otherwise. With a checkpoint, a resumed
    // feed goes on from where this one stopped.
    std::string error;
    bool Complete() const { return !stopped && error.empty(); }
    // The feed as a whole: the runs before this one and this one.
    ChangeTotals Overall() const {
        ChangeTotals overall = earlier;
        return overall += totals;
    }
};

// A saved feed's identity and progress, from LoadCheckpoint.
struct ChangeCheckpoint {
    uint64_t olderSnapshotId = 0;
    uint64_t newerSnapshotId = 0;
    bool attributes = true;
    ChangeTotals totals;
    std::string note;  // the caller's, as `commit` returned it
};

struct ParentListing;

class CChangeFeed {
  public:
    // The password is kept in this object's memory only, and wiped when it is destroyed.
    // `connections` list parents; the difference is read on one more (the only one without
    // attributes).
    CLUSTERWALK_API CChangeFeed(std::shared_ptr<CJob> job, std::string baseUrl,
                                std::string userName, const std::string& password,
                                unsigned connections = 16);
    CLUSTERWALK_API ~CChangeFeed();
    CChangeFeed(const CChangeFeed&) = delete;
    CChangeFeed& operator=(const CChangeFeed&) = delete;

    // Delivers the changes in the newer snapshot since the older one, from where a loaded
    // checkpoint stopped if one was loaded; blocks until the end, a stop or an error. One run
    // at a time per feed.
    CLUSTERWALK_API ChangeSummary Run(uint64_t olderSnapshotId, uint64_t newerSnapshotId,
                                      const ChangeSink& sink,
                                      const ChangeFeedOptions& options = ChangeFeedOptions());

    // Reads a checkpoint saved by a feed, for the next Run (which must name the same two
    // snapshots and ask for attributes alike, or it fails). False, loading nothing, when the
    // file is not a whole feed checkpoint.
    CLUSTERWALK_API bool LoadCheckpoint(const CCheckpointFile& file, ChangeCheckpoint& checkpoint,
                                        std::string& error);

    // From any thread while a feed runs; all zero otherwise.
    CLUSTERWALK_API ChangeProgress Progress() const;
    // From any thread, the sink included: ends the feed after the groups in flight, which are
    // delivered. The job's Cancel() ends it at once instead.
    CLUSTERWALK_API void Stop();

  private:
    struct State;
    struct Resume;
    struct Window;
    struct Group;
    ChangeSummary RunFeed(uint64_t olderSnapshotId, uint64_t newerSnapshotId,
                          const ChangeSink& sink, const ChangeFeedOptions& options);
    std::string Refusal(uint64_t olderSnapshotId, uint64_t newerSnapshotId,
                        const ChangeFeedOptions& options) const;
    void StartThreads(State& state, std::vector<std::thread>& threads);
    void RunReader(State& state);
    void ReadPages(State& state, CResilientSession& session);
    void ReadWindows(State& state, CResilientSession& session);
    bool ReadPage(State& state, CResilientSession& session, std::string& link,
                  std::vector<Cluster::CSnapshotDiffInfo>& changes);
    bool FillWindow(State& state, CResilientSession& session, std::string& link, Window& window);
    void AddWindow(State& state, std::unique_ptr<Window> window, const std::string& nextLink);
    static void DropDelivered(State& state);
    void RunConnection(State& state);
    void ListGroups(State& state, CResilientSession& session);
    void ListGroup(State& state, CResilientSession& session, Group& group);
    static bool Listed(State& state, const ParentListing& listing, const std::string& parent,
                       uint64_t snapshotId);
    bool Deliver(State& state, std::vector<ChangeRecord>& records, const ChangeTotals& counts,
                 const std::function<void()>& delivered);
    void RunCheckpoints(State& state);
    void SaveCheckpoint(State& state);

    const std::shared_ptr<CJob> m_job;
    const std::string m_baseUrl;
    const std::string m_userName;
    std::string m_password;
    const unsigned m_connections;
    std::unique_ptr<Resume> m_resume;  // from LoadCheckpoint, for the next Run
    mutable std::mutex m_runMutex;     // guards m_state
    State* m_state = nullptr;          // the run under way, for Stop and Progress
};

// "create", "delete", "modify" (the operation), and "content", "metadata", "modify" for kinds.
CLUSTERWALK_API const char* ChangeKindName(ChangeKind kind);
// "create", "delete" or "modify": an operation as records name it.
CLUSTERWALK_API const char* OperationName(Cluster::SnapshotDiffOperation operation);

}  // namespace clusterwalk
