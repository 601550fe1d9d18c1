// Print every change between two snapshots, page by page: ./walk_snapshot_diff OLDER NEWER
// Through a resilient session, as walk_directory.cpp is.
#include <ClusterWalk/ResilientSession.h>

#include "ExampleLogin.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OLDER_SNAPSHOT_ID NEWER_SNAPSHOT_ID\n", argv[0]);
        return 2;
    }
    const uint64_t older = std::strtoull(argv[1], nullptr, 10);
    const uint64_t newer = std::strtoull(argv[2], nullptr, 10);
    clusterwalk::CResilientSession session(
        std::make_shared<clusterwalk::CJob>(), Setting("CLUSTER_URL", "https://127.0.0.1:8000"),
        Setting("CLUSTER_USER", "admin"), Setting("CLUSTER_PASSWORD", ""));
    if (Report(session.Connect()) != 0) return 1;

    static const char* const kOperations[] = {"CREATE", "DELETE", "MODIFY"};
    auto pager = clusterwalk::SnapshotDiffPager(session, older, newer);
    for (const Cluster::CSnapshotDiffInfo& change : pager) {
        std::printf("%s\t%s\n", kOperations[change.operation], change.path.c_str());
    }
    std::fprintf(stderr, "%lu changes in %lu pages\n", pager.Count().entries, pager.Count().pages);
    return Report(pager.Error());
}
