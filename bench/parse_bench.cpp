// Parse time of whole reply pages into the library's records, side by side with the original
// design and the portable parse limit (see References.h).
#include <benchmark/benchmark.h>

#include "Cluster/ClusterParser.h"
#include "References.h"
#include "Workloads.h"

namespace {

constexpr int kPageSize = 1000;

// One page parse per iteration; `parse(text, records)` returns false on failure.
template <class Record, class Parse>
void RunPage(benchmark::State& state, const std::string& text, Parse parse) {
    for (auto _ : state) {
        std::list<Record> records;
        if (!parse(text, records)) state.SkipWithError("the page did not parse");
        benchmark::DoNotOptimize(records);
    }
    state.SetItemsProcessed(state.iterations() * kPageSize);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

const std::string& DirectoryText() {
    static const std::string text = bench::DirectoryPage(kPageSize);
    return text;
}
const std::string& DiffText() {
    static const std::string text = bench::SnapshotDiffPage(kPageSize);
    return text;
}
const std::string& SnapshotText() {
    static const std::string text = bench::SnapshotListing(kPageSize);
    return text;
}

using Cluster::CDirectoryEntry;
using Cluster::CSnapshotDiffInfo;
using Cluster::CSnapshotInfo;

void DirectoryPage_library(benchmark::State& state) {
    RunPage<CDirectoryEntry>(state, DirectoryText(), [](const std::string& text, auto& records) {
        std::string next;
        return !Cluster::CParser().GetDirectoryEntries(text, records, next).IsError();
    });
}
void DirectoryPage_original(benchmark::State& state) {
    RunPage<CDirectoryEntry>(state, DirectoryText(), [](const std::string& text, auto& records) {
        std::string next;
        return bench::OriginalDirectoryPage(text, records, next);
    });
}
void DirectoryPage_saxlimit(benchmark::State& state) {
    RunPage<CDirectoryEntry>(state, DirectoryText(), [](const std::string& text, auto& records) {
        std::string next;
        return bench::SaxDirectoryPage(text, records, next);
    });
}

void DiffPage_library(benchmark::State& state) {
    RunPage<CSnapshotDiffInfo>(state, DiffText(), [](const std::string& text, auto& records) {
        std::string next;
        return !Cluster::CParser().GetSnapshotDiffInformation(text, records, next).IsError();
    });
}
void DiffPage_original(benchmark::State& state) {
    RunPage<CSnapshotDiffInfo>(state, DiffText(), [](const std::string& text, auto& records) {
        std::string next;
        return bench::OriginalDiffPage(text, records, next);
    });
}
void DiffPage_saxlimit(benchmark::State& state) {
    RunPage<CSnapshotDiffInfo>(state, DiffText(), [](const std::string& text, auto& records) {
        std::string next;
        return bench::SaxDiffPage(text, records, next);
    });
}

void SnapshotListing_library(benchmark::State& state) {
    RunPage<CSnapshotInfo>(state, SnapshotText(), [](const std::string& text, auto& records) {
        return !Cluster::CParser().GetSnapshotsInformation(text, records).IsError();
    });
}
void SnapshotListing_original(benchmark::State& state) {
    RunPage<CSnapshotInfo>(state, SnapshotText(), bench::OriginalSnapshotListing);
}
void SnapshotListing_saxlimit(benchmark::State& state) {
    RunPage<CSnapshotInfo>(state, SnapshotText(), bench::SaxSnapshotListing);
}

void SmbShare_library(benchmark::State& state) {
    const std::string share = bench::SmbShare();
    for (auto _ : state) {
        Cluster::CSMBShareEntry entry;
        if (Cluster::CParser().GetSMBShareInformation(share, entry).IsError()) {
            state.SkipWithError("the share did not parse");
        }
        benchmark::DoNotOptimize(entry);
    }
}

template <class Convert>
void RunTime(benchmark::State& state, Convert convert) {
    const std::string text = bench::TimeText(12345);
    time_t value = 0;
    for (auto _ : state) {
        convert(text, value);
        benchmark::DoNotOptimize(value);
    }
}
void TimeText_library(benchmark::State& state) {
    RunTime(state,
            [](const std::string& text, time_t& value) { ConvertStringToTimeStamp(text, value); });
}
void TimeText_original(benchmark::State& state) {
    RunTime(state, bench::OriginalTime);
}

}  // namespace

BENCHMARK(DirectoryPage_library)->Unit(benchmark::kMicrosecond);
BENCHMARK(DirectoryPage_original)->Unit(benchmark::kMicrosecond);
BENCHMARK(DirectoryPage_saxlimit)->Unit(benchmark::kMicrosecond);
BENCHMARK(DiffPage_library)->Unit(benchmark::kMicrosecond);
BENCHMARK(DiffPage_original)->Unit(benchmark::kMicrosecond);
BENCHMARK(DiffPage_saxlimit)->Unit(benchmark::kMicrosecond);
BENCHMARK(SnapshotListing_library)->Unit(benchmark::kMicrosecond);
BENCHMARK(SnapshotListing_original)->Unit(benchmark::kMicrosecond);
BENCHMARK(SnapshotListing_saxlimit)->Unit(benchmark::kMicrosecond);
BENCHMARK(SmbShare_library);
BENCHMARK(TimeText_library);
BENCHMARK(TimeText_original);

BENCHMARK_MAIN();
