// Plan an incremental backup of a directory: ./incremental_backup DIRECTORY [PREVIOUS]
// Takes a snapshot of DIRECTORY now, finds the snapshot the previous backup was made from (the
// newest other snapshot of the same directory, or the one named PREVIOUS), and reads what
// changed since with the change feed: the files to copy, the metadata to apply and the paths
// to delete, with counts and the bytes to copy. A backup tool would copy from the new
// snapshot, which stays as it is while the copy runs, and keep it as the next one's base.
#include <Cluster/ClusterFileSystemQueries.h>
#include <Cluster/ClusterSnapshotQueries.h>
#include <ClusterWalk/ChangeFeed.h>

#include <ctime>
#include <string>
#include <vector>

#include "ExampleLogin.h"

namespace {

struct Plan {
    std::vector<clusterwalk::ChangeRecord> copy;      // created, or their content changed
    std::vector<clusterwalk::ChangeRecord> metadata;  // mode, owner, group or times only
    std::vector<std::string> remove;
    uint64_t bytes = 0;
};

// The previous snapshot: the one named, or the newest other one of the same source.
const Cluster::CSnapshotInfo* Previous(const std::list<Cluster::CSnapshotInfo>& snapshots,
                                       const Cluster::CSnapshotInfo& taken, const char* name) {
    const Cluster::CSnapshotInfo* previous = nullptr;
    for (const Cluster::CSnapshotInfo& snapshot : snapshots) {
        if (snapshot.id == taken.id) continue;
        if (name != nullptr ? snapshot.name == name
                            : snapshot.sourceFileId == taken.sourceFileId &&
                                  (previous == nullptr || snapshot.id > previous->id))
            previous = &snapshot;
    }
    return previous;
}

// Every kind of change has its place; a modify the feed could not tell is copied whole.
void Add(Plan& plan, clusterwalk::ChangeRecord& change) {
    switch (change.kind) {
        case clusterwalk::ChangeKind::Delete:
            plan.remove.push_back(change.path);
            return;
        case clusterwalk::ChangeKind::MetadataModify:
            plan.metadata.push_back(std::move(change));
            return;
        default:
            if (!change.isDirectory) plan.bytes += change.attributes.size;
            plan.copy.push_back(std::move(change));
    }
}

void Print(const Plan& plan) {
    std::printf("copy %zu (%llu bytes):\n", plan.copy.size(),
                static_cast<unsigned long long>(plan.bytes));
    for (const clusterwalk::ChangeRecord& change : plan.copy) {
        std::printf("  %-7s %12llu  %s\n", clusterwalk::ChangeKindName(change.kind),
                    static_cast<unsigned long long>(change.attributes.size), change.path.c_str());
    }
    std::printf("apply metadata %zu:\n", plan.metadata.size());
    for (const clusterwalk::ChangeRecord& change : plan.metadata) {
        std::printf("  mode %04llo owner %llu group %llu  %s\n",
                    static_cast<unsigned long long>(change.attributes.mode),
                    static_cast<unsigned long long>(change.attributes.owner),
                    static_cast<unsigned long long>(change.attributes.group), change.path.c_str());
    }
    std::printf("delete %zu:\n", plan.remove.size());
    for (const std::string& path : plan.remove) std::printf("  %s\n", path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s DIRECTORY [PREVIOUS_SNAPSHOT_NAME]\n", argv[0]);
        return 2;
    }
    const auto connection = LogIn();
    if (!connection) return 1;
    const auto parser = boost::make_shared<Cluster::CParser>();
    Cluster::CFileSystemQueries files(connection, parser);
    Cluster::CSnapshotQueries snapshots(connection, parser);

    Cluster::CFileAttributeInfo source;
    if (Report(files.GetFileAttributes(argv[1], source, 0)) != 0) return 1;
    Cluster::CSnapshotInfo taken;
    const std::string name = "backup-" + std::to_string(std::time(nullptr));
    if (Report(snapshots.CreateSnapshot(name, source.id, taken, "")) != 0) return 1;
    std::list<Cluster::CSnapshotInfo> list;
    if (Report(snapshots.ListSnapshots(list)) != 0) return 1;
    const Cluster::CSnapshotInfo* previous = Previous(list, taken, argc == 3 ? argv[2] : nullptr);
    if (previous == nullptr) {
        std::printf("took %s (%llu): no earlier snapshot of %s, so back it up whole\n",
                    taken.name.c_str(), static_cast<unsigned long long>(taken.id), argv[1]);
        return 0;
    }
    std::printf("took %s (%llu); changes since %s (%llu):\n", taken.name.c_str(),
                static_cast<unsigned long long>(taken.id), previous->name.c_str(),
                static_cast<unsigned long long>(previous->id));

    // The feed logs in on connections of its own; the sink is called one batch at a time.
    clusterwalk::CChangeFeed feed(
        std::make_shared<clusterwalk::CJob>(), Setting("CLUSTER_URL", "https://127.0.0.1:8000"),
        Setting("CLUSTER_USER", "admin"), Setting("CLUSTER_PASSWORD", ""), 4);
    Plan plan;
    const clusterwalk::ChangeSummary summary =
        feed.Run(previous->id, taken.id, [&plan](std::vector<clusterwalk::ChangeRecord>& changes) {
            for (clusterwalk::ChangeRecord& change : changes) Add(plan, change);
        });
    Print(plan);
    std::fprintf(stderr,
                 "%llu changes in %llu requests (difference pages %llu, listing pages %llu)\n",
                 static_cast<unsigned long long>(summary.totals.changes),
                 static_cast<unsigned long long>(summary.requests.attempts),
                 static_cast<unsigned long long>(summary.totals.differencePages),
                 static_cast<unsigned long long>(summary.totals.listingPages));
    if (summary.Complete()) return 0;
    std::fprintf(stderr, "the change feed ended early: %s\n", summary.error.c_str());
    return 1;
}
