// Walk a whole tree over 16 connections, resumably: ./walk_tree PATH CHECKPOINT OUTPUT
// Each entry's path goes to OUTPUT. The checkpoint, saved every 10 s and at the end, records
// how far OUTPUT had been written and synced; run the same command again after any crash and
// the walk goes on from there, so OUTPUT ends up holding every path exactly once.
#include <ClusterWalk/TreeWalker.h>
#include <unistd.h>

#include <string>

#include "ExampleLogin.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PATH CHECKPOINT OUTPUT\n", argv[0]);
        return 2;
    }
    clusterwalk::CCheckpointFile checkpoint;
    std::string error;
    if (!checkpoint.Open(argv[2], error)) {  // locked: a second run fails here at once
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    auto job = std::make_shared<clusterwalk::CJob>();
    clusterwalk::CTreeWalker walker(job, Setting("CLUSTER_URL", "https://127.0.0.1:8000"),
                                    Setting("CLUSTER_USER", "admin"),
                                    Setting("CLUSTER_PASSWORD", ""));
    clusterwalk::WalkOptions options;
    std::vector<clusterwalk::WalkUnit> start;
    uint64_t written = 0;  // the bytes of OUTPUT the saved state accounts for
    if (checkpoint.Exists()) {
        clusterwalk::CheckpointHeader header;
        if (!walker.LoadCheckpoint(checkpoint, header, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        written = std::stoull(header.note);
        options.earlier = header.totals;
    } else {
        start.push_back(clusterwalk::RootUnit(argv[1], 0));
    }
    // What was written after the last checkpoint is written again: cut it off first.
    if (truncate(argv[3], static_cast<off_t>(written)) != 0 && written != 0) return 1;
    std::FILE* output = std::fopen(argv[3], "a");
    if (output == nullptr) return 1;

    options.checkpoint = &checkpoint;
    options.commit = [output] {  // deliveries are paused while this runs
        std::fflush(output);
        fsync(fileno(output));
        return std::to_string(std::ftell(output));
    };
    const clusterwalk::WalkSummary summary = walker.Walk(
        start,
        [output](std::list<Cluster::CDirectoryEntry>& page) {
            for (const Cluster::CDirectoryEntry& entry : page)
                std::fprintf(output, "%s\n", entry.path.c_str());
        },
        options);
    std::fclose(output);
    std::fprintf(stderr, "%lu directories, %lu entries this run, %zu failed, %zu vanished\n",
                 summary.directoriesListed, summary.entries, summary.failed.size(),
                 summary.vanished.size());
    if (!summary.Complete()) return 1;  // the checkpoint keeps what is left, failed ones too
    return checkpoint.Remove(error) ? 0 : 1;
}
