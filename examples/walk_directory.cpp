// List a directory page by page, live or as of a snapshot: ./walk_directory PATH [SNAPSHOT_ID]
#include <Cluster/ClusterFileSystemQueries.h>
#include <ClusterWalk/Pager.h>

#include "ExampleLogin.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s PATH [SNAPSHOT_ID]\n", argv[0]);
        return 2;
    }
    const std::string path = argv[1];
    const int snapshotId = argc == 3 ? std::atoi(argv[2]) : 0;
    const auto connection = LogIn();
    if (!connection) return 1;
    Cluster::CFileSystemQueries files(connection, boost::make_shared<Cluster::CParser>());

    // One page in memory at a time; each step past a page's end reads the next one.
    auto pager = clusterwalk::DirectoryPager(files, path, snapshotId);
    for (const Cluster::CDirectoryEntry& entry : pager) {
        std::printf("%s\t%lu\t%s\n", entry.isDirectory ? "dir " : "file", entry.size,
                    entry.path.c_str());
    }
    return Report(pager.Error());
}
