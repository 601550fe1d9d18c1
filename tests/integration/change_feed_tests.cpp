// The change feed against simulated clusters on loopback: the records of a real difference
// between two snapshots, held against the raw difference and a walk of the newer snapshot;
// every change exactly once whatever the faults, stops and resumes met; what a group costs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ClusterSim.h"
#include "ClusterWalk/ChangeFeed.h"
#include "ClusterWalk/Checkpoint.h"
#include "tests/support/ChangeFeedSupport.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/WalkLayerSupport.h"

using clusterwalk::CChangeFeed;
using clusterwalk::ChangeFeedOptions;
using clusterwalk::ChangeKind;
using clusterwalk::ChangeRecord;
using clusterwalk::ChangeSummary;
using clusterwalk::CJob;
using feed_test::ChangeCollector;
using feed_test::ChangeCounts;

namespace {

const std::string kRoot = "/feed";
constexpr unsigned kBusy = 40;
constexpr unsigned kPageSize = 6;

std::shared_ptr<CJob> QuickJob() {
    clusterwalk::JobOptions options;
    options.retry = walk_test::QuickRetries();
    return std::make_shared<CJob>(options);
}

clustersim::Options SmallPages() {
    clustersim::Options options;
    options.tls = false;
    options.seedDemo = false;
    options.defaultPageSize = kPageSize;
    return options;
}

ChangeFeedOptions SmallWindows(bool attributes) {
    ChangeFeedOptions options;
    options.attributes = attributes;
    options.window = 7;  // several windows, and groups of one parent in more than one
    return options;
}

class ChangedTree : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        snapshots = feed_test::MakeChangedTree(sim, kRoot, kBusy);
        raw = feed_test::RawDifference(sim.BaseUrl(), snapshots.older, snapshots.newer);
        ASSERT_GT(raw.size(), 2u * kPageSize) << "the difference must span pages";
        newer = feed_test::SnapshotEntries(sim.BaseUrl(), kRoot + "/", snapshots.newer);
        ASSERT_FALSE(newer.empty());
    }

    ChangeSummary Feed(ChangeCollector& collector, const ChangeFeedOptions& options,
                       unsigned connections = 4, std::shared_ptr<CJob> job = QuickJob()) {
        CChangeFeed feed(std::move(job), sim.BaseUrl(), "admin", "admin", connections);
        ChangeSummary summary =
            feed.Run(snapshots.older, snapshots.newer, collector.Sink(), options);
        EXPECT_FALSE(collector.Overlapped()) << "the sink was called from two threads at once";
        return summary;
    }

    // Every change of the difference once, each with the attributes of the newer snapshot.
    void ExpectExactlyTheDifference(const ChangeCollector& collector) {
        const ChangeCounts delivered = collector.Counts();
        EXPECT_EQ(feed_test::NotOnce(delivered), "");
        EXPECT_TRUE(delivered == raw) << "the feed missed or invented changes";
    }

    clustersim::Simulator sim{SmallPages()};
    feed_test::SnapshotPair snapshots;
    ChangeCounts raw;
    std::map<std::string, Cluster::CDirectoryEntry> newer;
};

std::string Key(const std::string& path) {
    return path.back() == '/' ? path.substr(0, path.size() - 1) : path;
}

// --- What the records say ---

TEST_F(ChangedTree, RecordsCarryTheNewerSnapshotsAttributesAndTheRightKinds) {
    for (const unsigned connections : {1u, 4u}) {
        SCOPED_TRACE(std::to_string(connections) + " connections");
        ChangeCollector collector;
        const ChangeSummary summary = Feed(collector, SmallWindows(true), connections);
        ASSERT_TRUE(summary.Complete()) << summary.error;
        ExpectExactlyTheDifference(collector);
        uint64_t modifies = 0;
        for (const auto& [path, record] : collector.Records()) {
            SCOPED_TRACE(path);
            EXPECT_EQ(record.isDirectory, path.back() == '/');
            if (record.operation == Cluster::SNAPSHOT_DIFF_DELETE) {
                EXPECT_EQ(record.kind, ChangeKind::Delete);
                EXPECT_FALSE(record.hasAttributes);
                continue;
            }
            ASSERT_TRUE(record.hasAttributes);
            ASSERT_EQ(newer.count(Key(path)), 1u);
            EXPECT_EQ(walk_test::Describe({record.attributes}),
                      walk_test::Describe({newer.at(Key(path))}));
            if (record.operation == Cluster::SNAPSHOT_DIFF_MODIFY) {
                ++modifies;
                EXPECT_EQ(record.kind, ChangeKind::ContentModify);
            } else {
                EXPECT_EQ(record.kind, ChangeKind::Create);
            }
        }
        EXPECT_EQ(modifies, kBusy / 2 + 1);
        // Changed again after the newer snapshot: the feed still tells the snapshot's size.
        const ChangeRecord& first = collector.Records().at(feed_test::FileName(kRoot + "/busy", 0));
        EXPECT_EQ(first.attributes.size, 5000u);
        const clusterwalk::ChangeTotals& totals = summary.totals;
        EXPECT_EQ(totals.changes, raw.size());
        EXPECT_EQ(totals.contentModifies, modifies);
        EXPECT_EQ(totals.creates + totals.deletes + totals.contentModifies, totals.changes);
        EXPECT_EQ(totals.withoutAttributes, 0u);
        EXPECT_EQ(totals.differencePages, (raw.size() + kPageSize - 1) / kPageSize);
        EXPECT_GE(summary.requests.attempts, totals.differencePages + totals.listingPages);
    }
}

TEST_F(ChangedTree, PathsOnlyDeliversTheRawDifferenceAPageAtATime) {
    sim.ClearJournal();
    ChangeCollector collector;
    const ChangeSummary summary = Feed(collector, SmallWindows(false));
    ASSERT_TRUE(summary.Complete()) << summary.error;
    ExpectExactlyTheDifference(collector);
    for (const auto& [path, record] : collector.Records()) {
        EXPECT_FALSE(record.hasAttributes) << path;
        const ChangeKind told[] = {ChangeKind::Create, ChangeKind::Delete, ChangeKind::Modify};
        EXPECT_EQ(record.kind, told[record.operation]) << path;
    }
    const uint64_t pages = (raw.size() + kPageSize - 1) / kPageSize;
    EXPECT_EQ(collector.Calls(), pages);
    EXPECT_EQ(summary.totals.differencePages, pages);
    EXPECT_EQ(summary.totals.listingPages, 0u);
    EXPECT_EQ(walk_test::JournalCount(sim, "GET", "/v2/snapshots/"), pages);
    EXPECT_EQ(walk_test::JournalCount(sim, "GET", "/v1/files/"), 0u);
}

TEST_F(ChangedTree, ManyChangesInOneDirectoryCostAboutOneListing) {
    ChangeFeedOptions options;  // one window holds the whole difference
    sim.ClearJournal();
    ChangeCollector collector;
    const ChangeSummary summary = Feed(collector, options);
    ASSERT_TRUE(summary.Complete()) << summary.error;
    ExpectExactlyTheDifference(collector);
    // "busy" holds kBusy entries as of either snapshot: its listing takes this many pages.
    const size_t listingPages = (kBusy + kPageSize - 1) / kPageSize;
    const size_t busyRequests =
        walk_test::JournalCount(sim, "GET", "/v1/files/%2Ffeed%2Fbusy%2F/entries");
    size_t busyChanges = 0;
    for (const auto& [key, times] : raw) busyChanges += key.first.rfind(kRoot + "/busy/", 0) == 0;
    EXPECT_EQ(busyRequests, 2 * listingPages) << "the newer and the older listing, once each";
    EXPECT_LT(busyRequests, busyChanges);
}

}  // namespace
