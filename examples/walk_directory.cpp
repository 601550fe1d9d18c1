// List a directory page by page, live or as of a snapshot: ./walk_directory PATH [SNAPSHOT_ID]
// Through a resilient session, so a long listing rides out dropped connections, busy answers
// and an expiring token; on failure it says which page to resume at.
#include <ClusterWalk/ResilientSession.h>

#include "ExampleLogin.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s PATH [SNAPSHOT_ID]\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const int snapshotId = argc == 3 ? std::atoi(argv[2]) : 0;
    clusterwalk::JobOptions options;  // the defaults: 6 attempts per request, no rate limit
    auto job = std::make_shared<clusterwalk::CJob>(options);
    clusterwalk::CResilientSession session(job, Setting("CLUSTER_URL", "https://127.0.0.1:8000"),
                                           Setting("CLUSTER_USER", "admin"),
                                           Setting("CLUSTER_PASSWORD", ""));
    if (Report(session.Connect()) != 0) return 1;

    // One page in memory at a time; each step past a page's end reads the next one.
    auto pager = clusterwalk::DirectoryPager(session, path, snapshotId);
    for (const Cluster::CDirectoryEntry& entry : pager) {
        std::printf("%s\t%lu\t%s\n", entry.isDirectory ? "dir " : "file", entry.size,
                    entry.path.c_str());
    }
    const clusterwalk::JobStatistics statistics = job->Statistics();
    std::fprintf(stderr, "%lu entries, %lu requests, %lu retries, %lu new logins\n",
                 pager.Count().entries, statistics.attempts, statistics.retries,
                 statistics.relogins);
    if (pager.Error().IsError()) {
        std::fprintf(stderr, "stopped at page link [%s]\n", pager.Cursor().c_str());
    }
    return Report(pager.Error());
}
