// Parse time of whole reply pages into the library's records.
#include <benchmark/benchmark.h>

#include "Cluster/ClusterParser.h"
#include "Workloads.h"

namespace {

void DirectoryPage1000(benchmark::State& state) {
    const std::string page = bench::DirectoryPage(1000);
    Cluster::CParser parser;
    for (auto _ : state) {
        std::list<Cluster::CDirectoryEntry> entries;
        std::string next;
        if (parser.GetDirectoryEntries(page, entries, next).IsError()) state.SkipWithError("parse");
        benchmark::DoNotOptimize(entries);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(page.size()));
}
BENCHMARK(DirectoryPage1000)->Unit(benchmark::kMicrosecond);

void SnapshotDiffPage1000(benchmark::State& state) {
    const std::string page = bench::SnapshotDiffPage(1000);
    Cluster::CParser parser;
    for (auto _ : state) {
        std::list<Cluster::CSnapshotDiffInfo> changes;
        std::string next;
        if (parser.GetSnapshotDiffInformation(page, changes, next).IsError()) state.SkipWithError("parse");
        benchmark::DoNotOptimize(changes);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(SnapshotDiffPage1000)->Unit(benchmark::kMicrosecond);

void SnapshotListing1000(benchmark::State& state) {
    const std::string listing = bench::SnapshotListing(1000);
    Cluster::CParser parser;
    for (auto _ : state) {
        std::list<Cluster::CSnapshotInfo> snapshots;
        if (parser.GetSnapshotsInformation(listing, snapshots).IsError()) state.SkipWithError("parse");
        benchmark::DoNotOptimize(snapshots);
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(SnapshotListing1000)->Unit(benchmark::kMicrosecond);

void SingleSmbShare(benchmark::State& state) {
    const std::string share = bench::SmbShare();
    Cluster::CParser parser;
    for (auto _ : state) {
        Cluster::CSMBShareEntry entry;
        if (parser.GetSMBShareInformation(share, entry).IsError()) state.SkipWithError("parse");
        benchmark::DoNotOptimize(entry);
    }
}
BENCHMARK(SingleSmbShare);

void TimeTextToTimestamp(benchmark::State& state) {
    const std::string text = bench::TimeText(12345);
    time_t value = 0;
    for (auto _ : state) {
        ConvertStringToTimeStamp(text, value);
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(TimeTextToTimestamp);

}  // namespace

BENCHMARK_MAIN();
