// Writes the benchmark pages into a folder, so other readers measure the same bytes.
#include <cstdio>
#include <fstream>

#include "Workloads.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    std::ofstream(folder + "/directory_page.json") << bench::DirectoryPage(1000);
    std::ofstream(folder + "/diff_page.json") << bench::SnapshotDiffPage(1000);
    std::ofstream(folder + "/snapshot_listing.json") << bench::SnapshotListing(1000);
    return 0;
}
