// List a directory page by page, live or as of a snapshot: ./walk_directory PATH [SNAPSHOT_ID]
#include <Cluster/ClusterFileSystemQueries.h>
#include <PageWalker.h>

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

    pagewalk::PageCount count;
    const CZuError error = pagewalk::WalkPages<Cluster::CDirectoryEntry>(
        [&](const std::string& pageLink, std::list<Cluster::CDirectoryEntry>& entries,
            std::string& nextLink) {
            return files.GetDirectoryEntries(path, entries, nextLink, snapshotId, pageLink);
        },
        [](std::list<Cluster::CDirectoryEntry>& entries) {
            for (const auto& entry : entries) {
                std::printf("%s\t%lu\t%s\n", entry.isDirectory ? "dir " : "file", entry.size,
                            entry.path.c_str());
            }
            return CZuError::Success();
        },
        count);
    return Report(error);
}
