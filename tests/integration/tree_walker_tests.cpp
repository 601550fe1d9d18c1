// The parallel tree walker against simulated clusters on loopback: every entry exactly once
// whatever the number of connections or the faults met, directories that vanish or fail
// counted apart, and a stopped walk whose units finish the tree in a second run. Also the
// text form of a unit and the loop check on its ancestors.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ClusterSim.h"
#include "ClusterWalk/ResilientSession.h"
#include "ClusterWalk/TreeWalker.h"
#include "ClusterWalk/WalkUnit.h"
#include "tests/support/WalkLayerSupport.h"

using Cluster::CDirectoryEntry;
using clusterwalk::CJob;
using clusterwalk::CTreeWalker;
using clusterwalk::RootUnit;
using clusterwalk::WalkSummary;
using clusterwalk::WalkUnit;
using walk_test::EntryCollector;
using walk_test::EntryCounts;

namespace {

constexpr uint64_t kFiles = 5000;
constexpr uint64_t kDirectories = 200;
constexpr unsigned kDepth = 4;
constexpr unsigned kPageSize = 10;
const std::string kRoot = "/synthetic/";

std::shared_ptr<CJob> QuickJob() {
    clusterwalk::JobOptions options;
    options.retry = walk_test::QuickRetries();
    return std::make_shared<CJob>(options);
}

struct Reference {
    EntryCounts entries;
    uint64_t directories = 0;
    uint64_t bytes = 0;
};

Reference ReadSequentially(const clustersim::Simulator& sim, const std::string& root) {
    clusterwalk::CResilientSession session(QuickJob(), sim.BaseUrl(), "admin", "admin");
    EXPECT_FALSE(session.Connect().IsError());
    EntryCollector collector;
    Reference reference;
    reference.entries = walk_test::SequentialTree(session, root, collector, reference.directories);
    reference.bytes = collector.Bytes();
    return reference;
}

// Also checks the walker's delivery rule: never two sink calls at once.
WalkSummary WalkInto(EntryCollector& collector, const std::string& url, unsigned connections,
                     std::vector<WalkUnit> start, std::shared_ptr<CJob> job = QuickJob()) {
    CTreeWalker walker(std::move(job), url, "admin", "admin", connections);
    std::atomic<int> inSink{0};
    std::atomic<bool> overlapped{false};
    WalkSummary summary = walker.Walk(std::move(start), [&](std::list<CDirectoryEntry>& entries) {
        if (++inSink > 1) overlapped = true;
        collector.Add(entries);
        --inSink;
    });
    EXPECT_FALSE(overlapped) << "the sink was called from two threads at once";
    return summary;
}

void ExpectExactly(const Reference& reference, const EntryCollector& collector) {
    const EntryCounts walked = collector.Counts();
    EXPECT_EQ(walk_test::Doubled(walked), "");
    EXPECT_EQ(walked.size(), reference.entries.size());
    EXPECT_TRUE(walked == reference.entries) << "the walk missed or invented entries";
}

void ExpectCompleteSummary(const WalkSummary& summary, const Reference& reference) {
    EXPECT_TRUE(summary.Complete()) << summary.error;
    EXPECT_FALSE(summary.stopped);
    EXPECT_EQ(summary.directoriesListed, reference.directories);
    EXPECT_EQ(summary.entries, reference.entries.size());
    EXPECT_EQ(summary.bytes, reference.bytes);
    EXPECT_TRUE(summary.vanished.empty());
    EXPECT_TRUE(summary.loops.empty());
    EXPECT_GE(summary.requests.attempts, summary.pages);
}

class SyntheticWalk : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        reference = ReadSequentially(sim, kRoot);
        ASSERT_EQ(reference.entries.size(), kFiles);
        ASSERT_EQ(reference.directories, kDirectories);
    }

    clustersim::Simulator sim{walk_test::SyntheticTree(kFiles, kDirectories, kDepth, kPageSize)};
    Reference reference;
};

// --- Every entry exactly once ---

TEST_F(SyntheticWalk, AnyNumberOfConnectionsDeliversExactlyTheSequentialWalk) {
    for (const unsigned connections : {1u, 4u, 16u}) {
        SCOPED_TRACE(std::to_string(connections) + " connections");
        EntryCollector collector;
        const WalkSummary summary =
            WalkInto(collector, sim.BaseUrl(), connections, {RootUnit(kRoot, 0)});
        ExpectExactly(reference, collector);
        ExpectCompleteSummary(summary, reference);
    }
}

TEST(TreeWalker, DemoTreeFromTheTopDeliversExactlyTheSequentialWalk) {
    clustersim::Options options;
    options.tls = false;
    clustersim::Simulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const Reference reference = ReadSequentially(sim, "/");
    ASSERT_GT(reference.directories, 3u);
    EntryCollector collector;
    const WalkSummary summary = WalkInto(collector, sim.BaseUrl(), 4, {RootUnit("/", 0)});
    ExpectExactly(reference, collector);
    ExpectCompleteSummary(summary, reference);
}

TEST_F(SyntheticWalk, FaultyClusterStillGivesTheExactSet) {
    clustersim::Options options = walk_test::SyntheticTree(kFiles, kDirectories, kDepth, kPageSize);
    options.tokenTtlSeconds = 1;
    options.latencyMs = 20;
    options.faultRates.unavailable = 0.05;
    options.faultRates.reset = 0.03;
    options.faultRates.truncated = 0.02;
    clustersim::Simulator faulty(options);
    std::string error;
    ASSERT_TRUE(faulty.Start(&error)) << error;
    EntryCollector collector;
    const WalkSummary summary = WalkInto(collector, faulty.BaseUrl(), 4, {RootUnit(kRoot, 0)});
    ExpectExactly(reference, collector);
    ExpectCompleteSummary(summary, reference);
    const clustersim::ServerStatistics server = faulty.Statistics();
    EXPECT_GT(server.unavailable + server.truncations, 0u);
    EXPECT_GE(summary.requests.retries, server.unavailable + server.truncations);
    // Every new login answers a token the cluster refused; a refusal does not always reach the
    // session as such (seen once under ThreadSanitizer), so the counts need not be equal.
    EXPECT_LE(summary.requests.relogins, server.expiredTokens);
}

// --- Directories that go away or cannot be read ---

TEST(TreeWalker, DirectoryRemovedAfterItsParentListedItIsVanishedNotFailed) {
    clustersim::Options options;
    options.tls = false;
    options.seedDemo = false;
    clustersim::Simulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    sim.WriteFile("/top/gone/deep/a.txt", 10);
    sim.WriteFile("/top/gone/b.txt", 20);
    sim.WriteFile("/top/kept/c.txt", 30);

    EntryCollector collector;
    CTreeWalker walker(QuickJob(), sim.BaseUrl(), "admin", "admin", 2);
    const WalkSummary summary =
        walker.Walk({RootUnit("/top/", 0)}, [&](std::list<CDirectoryEntry>& entries) {
            collector.Add(entries);
            for (const CDirectoryEntry& entry : entries)
                if (entry.path == "/top/gone/") sim.Remove("/top/gone");
        });
    const EntryCounts walked = collector.Counts();
    EXPECT_EQ(summary.vanished, std::vector<std::string>{"/top/gone/"});
    EXPECT_TRUE(summary.failed.empty());
    EXPECT_TRUE(summary.Complete()) << summary.error;
    // The parent's listing still delivered the directory itself, nothing below it.
    EXPECT_EQ(walked.size(), 3u);
    EXPECT_EQ(walked.count({"/top/gone/", sim.FileId("/top/gone")}), 0u) << "its id is gone";
    EXPECT_EQ(summary.directoriesListed, 2u);
    EXPECT_EQ(summary.bytes, 30u);
}

TEST(TreeWalker, MissingRootOrRefusedLoginFailsWithTheUnitKept) {
    clustersim::Options options;
    options.tls = false;
    clustersim::Simulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    EntryCollector collector;
    const WalkSummary missing = WalkInto(collector, sim.BaseUrl(), 2, {RootUnit("/nowhere/", 0)});
    ASSERT_EQ(missing.failed.size(), 1u);
    EXPECT_EQ(missing.failed[0].unit, RootUnit("/nowhere/", 0));
    EXPECT_TRUE(missing.vanished.empty()) << "a root was never listed by a parent";
    EXPECT_FALSE(missing.Complete());

    CTreeWalker refused(QuickJob(), sim.BaseUrl(), "admin", "wrong", 2);
    const WalkSummary summary = refused.Walk({RootUnit("/", 0)}, {});
    EXPECT_NE(summary.error.find("no connection could log in"), std::string::npos) << summary.error;
    EXPECT_EQ(summary.unfinished, std::vector<WalkUnit>{RootUnit("/", 0)});
    EXPECT_EQ(collector.Counts().size(), 0u);
}

// --- A walk stopped part way, finished by a second one from its units ---

class StoppedWalk : public SyntheticWalk, public ::testing::WithParamInterface<bool> {};

TEST_P(StoppedWalk, SecondWalkFromTheHandedBackUnitsCompletesTheSetExactly) {
    const bool cancelJob = GetParam();
    auto job = QuickJob();
    EntryCollector collector;
    CTreeWalker walker(job, sim.BaseUrl(), "admin", "admin", 4);
    std::atomic<uint64_t> seen{0};
    const WalkSummary first =
        walker.Walk({RootUnit(kRoot, 0)}, [&](std::list<CDirectoryEntry>& entries) {
            collector.Add(entries);
            if ((seen += entries.size()) < kFiles / 3) return;
            cancelJob ? job->Cancel() : walker.Stop();
        });
    EXPECT_TRUE(first.stopped);
    EXPECT_TRUE(first.error.empty()) << first.error;
    ASSERT_FALSE(first.unfinished.empty());
    EXPECT_LT(first.entries, kFiles);
    EXPECT_EQ(first.entries, seen.load());

    // Below the root, each unit's ancestry starts with the root's id, read before its listing.
    for (const WalkUnit& unit : first.unfinished) {
        if (unit.ancestorIds.empty()) continue;
        EXPECT_EQ(unit.ancestorIds.front(), sim.FileId("/synthetic")) << unit.path;
        EXPECT_EQ(unit.ancestorIds.size() + 1,
                  static_cast<size_t>(std::count(unit.path.begin(), unit.path.end(), '/')) - 1)
            << unit.path;
    }

    // Handed over as text, as to another process.
    std::vector<WalkUnit> resumed;
    for (const WalkUnit& unit : first.unfinished) {
        WalkUnit parsed;
        std::string error;
        ASSERT_TRUE(clusterwalk::ParseUnit(clusterwalk::FormatUnit(unit), parsed, error)) << error;
        resumed.push_back(parsed);
    }
    const WalkSummary second = WalkInto(collector, sim.BaseUrl(), 4, resumed);
    EXPECT_TRUE(second.Complete()) << second.error;
    ExpectExactly(reference, collector);
    EXPECT_EQ(first.entries + second.entries, kFiles);
    EXPECT_EQ(first.directoriesListed + second.directoriesListed, kDirectories);
}

INSTANTIATE_TEST_SUITE_P(CancelOrStop, StoppedWalk, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "JobCancelled" : "WalkerStopped";
                         });

// --- Units: their text form and the loop check ---

TEST(WalkUnit, TextFormRoundTripsAnyPathByte) {
    WalkUnit unit;
    unit.snapshotId = 12;
    unit.id = 99;
    unit.delivered = 18446744073709551615ull;
    unit.ancestorIds = {1, 18446744073709551615ull, 0};
    unit.pageLink = "/v1/files/%2Fa/entries/?after=b%20c&limit=10";
    const std::vector<std::string> paths = {"/a b/",
                                            "/line\nbreak\r/",
                                            "/latin1 \xe9\xff\x80/",
                                            "/-/,/%/%41/",
                                            "/\t\x01\x7f/",
                                            "-",
                                            std::string("/nul\0byte/", 10)};
    for (const std::string& path : paths) {
        unit.path = path;
        const std::string line = clusterwalk::FormatUnit(unit);
        EXPECT_EQ(line.find_first_of("\n\r\t"), std::string::npos) << line;
        WalkUnit parsed;
        std::string error;
        ASSERT_TRUE(clusterwalk::ParseUnit(line, parsed, error)) << line << ": " << error;
        EXPECT_EQ(parsed, unit) << line;
    }
    const WalkUnit root = RootUnit("/", 0);
    WalkUnit parsed;
    std::string error;
    ASSERT_TRUE(clusterwalk::ParseUnit(clusterwalk::FormatUnit(root), parsed, error)) << error;
    EXPECT_EQ(parsed, root);
}

TEST(WalkUnit, MalformedLinesAreRejectedAndLeaveTheUnitAlone) {
    const std::vector<std::string> lines = {
        "",
        "unit1 0 5 0 - /a/",
        "unit1 0 5 0 - /a/ - extra",
        "unit2 0 5 - /a/ -",
        "unit1 -1 5 0 - /a/ -",
        "unit1 2147483648 5 0 - /a/ -",
        "unit1 0 0x5 0 - /a/ -",
        "unit1 0 5 +3 - /a/ -",
        "unit1 0 99999999999999999999 0 - /a/ -",
        "unit1 0 5 0 1,,2 /a/ -",
        "unit1 0 5 0 1, /a/ -",
        "unit1 0 5 0 - - -",
        "unit1 0 5 0 - /a%2/ -",
        "unit1 0 5 0 - /a%zz/ -",
        "unit1 0 5 0 - /a-b/ -",
        "unit1 0 5 0 - /a/ -\n",
        "unit1  0 5 - /a/ -",
    };
    const WalkUnit before = RootUnit("/kept/", 3);
    for (const std::string& line : lines) {
        WalkUnit unit = before;
        std::string error;
        EXPECT_FALSE(clusterwalk::ParseUnit(line, unit, error)) << line;
        EXPECT_FALSE(error.empty()) << line;
        EXPECT_EQ(unit, before) << line;
    }
}

TEST(WalkUnit, ChildThatIsItsOwnAncestorClosesALoop) {
    WalkUnit root = RootUnit("/r/", 0);
    root.id = 10;
    CDirectoryEntry entry;
    entry.path = "/r/a/";
    entry.id = 20;
    entry.isDirectory = true;
    const WalkUnit child = clusterwalk::ChildUnit(root, entry);
    EXPECT_EQ(child.ancestorIds, std::vector<uint64_t>{10});
    EXPECT_EQ(child.id, 20u);
    EXPECT_EQ(child.path, "/r/a/");
    EXPECT_TRUE(child.pageLink.empty());

    EXPECT_TRUE(clusterwalk::ClosesLoop(child, 20)) << "itself";
    EXPECT_TRUE(clusterwalk::ClosesLoop(child, 10)) << "its parent";
    EXPECT_FALSE(clusterwalk::ClosesLoop(child, 30));
    EXPECT_FALSE(clusterwalk::ClosesLoop(RootUnit("/", 0), 0)) << "an unknown id matches nothing";
}

}  // namespace
