// Print every change between two snapshots, page by page: ./walk_snapshot_diff OLDER NEWER
#include <Cluster/ClusterSnapshotQueries.h>
#include <PageWalker.h>

#include "ExampleLogin.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OLDER_SNAPSHOT_ID NEWER_SNAPSHOT_ID\n", argv[0]);
        return 2;
    }
    const uint64_t older = std::strtoull(argv[1], nullptr, 10);
    const uint64_t newer = std::strtoull(argv[2], nullptr, 10);
    const auto connection = LogIn();
    if (!connection) return 1;
    Cluster::CSnapshotQueries snapshots(connection, boost::make_shared<Cluster::CParser>());

    static const char* const kOperations[] = {"CREATE", "DELETE", "MODIFY"};
    pagewalk::PageCount count;
    const CZuError error = pagewalk::WalkPages<Cluster::CSnapshotDiffInfo>(
        [&](const std::string& pageLink, std::list<Cluster::CSnapshotDiffInfo>& changes,
            std::string& nextLink) {
            return snapshots.GetSnapshotDiff(older, newer, changes, nextLink, pageLink);
        },
        [](std::list<Cluster::CSnapshotDiffInfo>& changes) {
            for (const auto& change : changes) {
                std::printf("%s\t%s\n", kOperations[change.operation], change.path.c_str());
            }
            return CZuError::Success();
        },
        count);
    std::fprintf(stderr, "%lu changes in %lu pages\n", count.entries, count.pages);
    return Report(error);
}
