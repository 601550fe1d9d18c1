// The change feed against simulated clusters on loopback: the records of a real difference
// between two snapshots, held against the raw difference and a walk of the newer snapshot;
// every change exactly once whatever the faults, stops and resumes met; what a group costs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ClusterSim.h"
#include "ClusterWalk/ChangeFeed.h"
#include "ClusterWalk/Checkpoint.h"
#include "ClusterWalk/TreeWalker.h"
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
        const ChangeRecord first = collector.Records().at(feed_test::FileName(kRoot + "/busy", 0));
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

namespace {

// --- Exactly once under faults, stops and resumes ---

TEST_F(ChangedTree, FaultyClusterStillGivesEveryChangeOnce) {
    clustersim::Options options = SmallPages();
    options.tokenTtlSeconds = 1;
    options.latencyMs = 5;
    options.faultRates.unavailable = 0.06;
    options.faultRates.busy = 0.06;
    options.faultRates.reset = 0.04;
    clustersim::Simulator faulty(options);
    std::string error;
    ASSERT_TRUE(faulty.Start(&error)) << error;
    const feed_test::SnapshotPair pair = feed_test::MakeChangedTree(faulty, kRoot, kBusy);
    for (const bool attributes : {true, false}) {
        SCOPED_TRACE(attributes ? "with attributes" : "paths only");
        ChangeCollector collector;
        CChangeFeed feed(QuickJob(), faulty.BaseUrl(), "admin", "admin", 4);
        const ChangeSummary summary =
            feed.Run(pair.older, pair.newer, collector.Sink(), SmallWindows(attributes));
        ASSERT_TRUE(summary.Complete()) << summary.error;
        ExpectExactlyTheDifference(collector);
        EXPECT_EQ(summary.totals.changes, raw.size());
    }
    const clustersim::ServerStatistics server = faulty.Statistics();
    EXPECT_GT(server.unavailable + server.busy + server.resets, 0u) << "no fault was met";
}

// How a run is cut short from its sink: the feed's Stop(), or the job's Cancel().
struct Interruption {
    bool attributes;
    bool cancel;
};

class InterruptedFeed : public ChangedTree, public ::testing::WithParamInterface<Interruption> {};

TEST_P(InterruptedFeed, ResumedFromItsCheckpointDeliversTheRestOnce) {
    const Interruption interruption = GetParam();
    ScratchDirectory scratch("feed");
    clusterwalk::CCheckpointFile file;
    std::string error;
    ASSERT_TRUE(file.Open(scratch.Path() + "/changes.checkpoint", error)) << error;
    ChangeFeedOptions options = SmallWindows(interruption.attributes);
    options.checkpoint = &file;
    options.commit = [] { return std::string("output at 42"); };

    auto job = QuickJob();
    CChangeFeed feed(job, sim.BaseUrl(), "admin", "admin", 4);
    ChangeCollector first;
    uint64_t calls = 0;
    bool progressAgreed = true;
    const ChangeSummary stopped = feed.Run(
        snapshots.older, snapshots.newer,
        [&](std::vector<ChangeRecord>& records) {
            uint64_t before = 0;
            for (const auto& [key, times] : first.Counts()) before += times;
            progressAgreed = progressAgreed && feed.Progress().changes == before;
            first.Add(records);
            if (++calls == 3) interruption.cancel ? job->Cancel() : feed.Stop();
        },
        options);
    EXPECT_TRUE(progressAgreed) << "Progress() did not count what the sink had been given";
    EXPECT_TRUE(stopped.stopped);
    EXPECT_TRUE(stopped.error.empty()) << stopped.error;
    EXPECT_FALSE(stopped.Complete());
    ASSERT_GE(stopped.checkpoints, 1u) << stopped.checkpointError;
    ASSERT_LT(stopped.totals.changes, raw.size());

    // A cancelled job stays cancelled: the rest goes through a new feed on a new job.
    CChangeFeed fresh(QuickJob(), sim.BaseUrl(), "admin", "admin", 4);
    CChangeFeed& resumed = interruption.cancel ? fresh : feed;
    clusterwalk::ChangeCheckpoint checkpoint;
    ASSERT_TRUE(resumed.LoadCheckpoint(file, checkpoint, error)) << error;
    EXPECT_EQ(checkpoint.note, "output at 42");
    EXPECT_EQ(checkpoint.olderSnapshotId, snapshots.older);
    EXPECT_EQ(checkpoint.newerSnapshotId, snapshots.newer);
    EXPECT_EQ(checkpoint.totals.changes, stopped.totals.changes);
    options.earlier = checkpoint.totals;
    ChangeCollector second;
    const ChangeSummary finished =
        resumed.Run(snapshots.older, snapshots.newer, second.Sink(), options);
    ASSERT_TRUE(finished.Complete()) << finished.error;
    EXPECT_EQ(finished.earlier.changes, stopped.totals.changes);
    EXPECT_EQ(finished.totals.changes + stopped.totals.changes, raw.size());

    ChangeCounts both = first.Counts();
    feed_test::AddCounts(both, second.Counts());
    EXPECT_EQ(feed_test::NotOnce(both), "");
    EXPECT_TRUE(both == raw) << "the two runs missed or invented changes";
}

INSTANTIATE_TEST_SUITE_P(StopOrCancel, InterruptedFeed,
                         ::testing::Values(Interruption{true, false}, Interruption{true, true},
                                           Interruption{false, false}, Interruption{false, true}),
                         [](const ::testing::TestParamInfo<Interruption>& info) {
                             return std::string(info.param.attributes ? "Attributes"
                                                                      : "PathsOnly") +
                                    (info.param.cancel ? "JobCancelled" : "FeedStopped");
                         });

// A process that died after some checkpoint: the file as that checkpoint left it, and the
// output as its commit left it, go on in a new feed.
TEST_F(ChangedTree, CheckpointTakenMidRunIsResumedByANewFeed) {
    ScratchDirectory scratch("feed");
    const std::string path = scratch.Path() + "/changes.checkpoint";
    const std::string kept = scratch.Path() + "/kept.checkpoint";
    clusterwalk::CCheckpointFile file;
    std::string error;
    ASSERT_TRUE(file.Open(path, error)) << error;
    ChangeFeedOptions options = SmallWindows(true);
    options.checkpoint = &file;
    options.checkpointInterval = std::chrono::milliseconds(1);
    ChangeCollector collector;
    ChangeCounts committed;  // what the kept checkpoint's commit saw delivered
    bool marked = false;
    bool copied = false;
    options.commit = [&] {
        // Deliveries are paused: the file on disk is the one the previous commit belongs to.
        if (marked && !copied) {
            std::filesystem::copy_file(path, kept);
            copied = true;
        }
        if (!marked && collector.Counts().size() >= raw.size() / 3) {
            committed = collector.Counts();
            marked = true;
        }
        return std::string();
    };
    const ChangeSummary whole = Feed(collector, options);
    ASSERT_TRUE(whole.Complete()) << whole.error;
    ASSERT_TRUE(copied);
    ASSERT_LT(committed.size(), raw.size());

    clusterwalk::CCheckpointFile keptFile;
    ASSERT_TRUE(keptFile.Open(kept, error)) << error;
    CChangeFeed feed(QuickJob(), sim.BaseUrl(), "admin", "admin", 3);
    clusterwalk::ChangeCheckpoint checkpoint;
    ASSERT_TRUE(feed.LoadCheckpoint(keptFile, checkpoint, error)) << error;
    EXPECT_EQ(checkpoint.totals.changes, committed.size());
    ChangeCollector rest;
    ChangeFeedOptions plain = SmallWindows(true);
    const ChangeSummary summary = feed.Run(snapshots.older, snapshots.newer, rest.Sink(), plain);
    ASSERT_TRUE(summary.Complete()) << summary.error;
    feed_test::AddCounts(committed, rest.Counts());
    EXPECT_EQ(feed_test::NotOnce(committed), "");
    EXPECT_TRUE(committed == raw) << "the resumed feed missed or invented changes";
}

// --- Failures ---

TEST_F(ChangedTree, FailedListingEndsTheFeedAndItsGroupIsRedoneOnResume) {
    ScratchDirectory scratch("feed");
    clusterwalk::CCheckpointFile file;
    std::string error;
    ASSERT_TRUE(file.Open(scratch.Path() + "/changes.checkpoint", error)) << error;
    clustersim::Fault fault;
    fault.method = "GET";
    fault.pathPrefix = "/v1/files/%2Ffeed%2Fnew%2F/entries";
    fault.status = 500;
    fault.body = R"({"error_class":"internal_error","description":"disk on fire"})";
    sim.AddFault(fault);
    ChangeFeedOptions options = SmallWindows(true);
    options.checkpoint = &file;
    ChangeCollector first;
    const ChangeSummary failed = Feed(first, options);
    EXPECT_FALSE(failed.stopped);
    EXPECT_NE(failed.error.find("/feed/new/"), std::string::npos) << failed.error;
    EXPECT_NE(failed.error.find(std::to_string(snapshots.newer)), std::string::npos);
    EXPECT_EQ(failed.error.find('\n'), std::string::npos) << "one line: " << failed.error;
    const std::string below = kRoot + "/new/";
    for (const auto& [key, times] : first.Counts()) {
        const bool inNew = key.first.size() > below.size() && key.first.rfind(below, 0) == 0;
        EXPECT_FALSE(inNew) << key.first << " delivered";
    }

    sim.ClearFaults();
    CChangeFeed feed(QuickJob(), sim.BaseUrl(), "admin", "admin", 2);
    clusterwalk::ChangeCheckpoint checkpoint;
    ASSERT_TRUE(feed.LoadCheckpoint(file, checkpoint, error)) << error;
    ChangeCollector second;
    const ChangeSummary summary =
        feed.Run(snapshots.older, snapshots.newer, second.Sink(), SmallWindows(true));
    ASSERT_TRUE(summary.Complete()) << summary.error;
    ChangeCounts both = first.Counts();
    feed_test::AddCounts(both, second.Counts());
    EXPECT_EQ(feed_test::NotOnce(both), "");
    EXPECT_TRUE(both == raw);
}

TEST_F(ChangedTree, ParentMissingAsOfASnapshotGivesChangesWithoutAttributes) {
    clustersim::Fault fault;
    fault.method = "GET";
    fault.pathPrefix = "/v1/files/%2Ffeed%2Fbusy%2F/entries";
    fault.status = 404;
    fault.body = R"({"error_class":"fs_no_such_entry_error","description":"gone"})";
    sim.AddFault(fault);
    ChangeCollector collector;
    const ChangeSummary summary = Feed(collector, SmallWindows(true));
    ASSERT_TRUE(summary.Complete()) << summary.error;
    ExpectExactlyTheDifference(collector);
    uint64_t without = 0;
    for (const auto& [path, record] : collector.Records()) {
        const bool inBusy = path.rfind(kRoot + "/busy/", 0) == 0;
        if (record.operation == Cluster::SNAPSHOT_DIFF_DELETE) continue;
        EXPECT_EQ(record.hasAttributes, !inBusy) << path;
        if (inBusy && record.operation == Cluster::SNAPSHOT_DIFF_MODIFY) {
            EXPECT_EQ(record.kind, ChangeKind::Modify) << path;
        }
        without += !record.hasAttributes;
    }
    EXPECT_EQ(without, kBusy / 2 + kBusy / 4);
    EXPECT_EQ(summary.totals.withoutAttributes, without);
    EXPECT_EQ(summary.totals.otherModifies, kBusy / 2);
}

TEST_F(ChangedTree, ThrowingSinkEndsTheFeedWithItsReason) {
    for (const bool attributes : {true, false}) {
        CChangeFeed feed(QuickJob(), sim.BaseUrl(), "admin", "admin", 2);
        const ChangeSummary summary = feed.Run(
            snapshots.older, snapshots.newer,
            [](std::vector<ChangeRecord>&) { throw std::runtime_error("disk full"); },
            SmallWindows(attributes));
        EXPECT_NE(summary.error.find("disk full"), std::string::npos) << summary.error;
        EXPECT_EQ(summary.totals.changes, 0u);
    }
}

// A cluster whose page links lead round in a loop, through one page or through several,
// would keep the feed reading (and, with attributes, filling one window) forever.
TEST_F(ChangedTree, RepeatedDifferenceLinkEndsTheFeed) {
    const std::string difference = "/v2/snapshots/" + std::to_string(snapshots.newer) +
                                   "/changes-since/" + std::to_string(snapshots.older);
    const auto page = [](const std::string& prefix, const std::string& next) {
        clustersim::Fault fault;
        fault.method = "GET";
        fault.pathPrefix = prefix;
        fault.status = 200;
        fault.body = R"({"entries":[{"path":"/feed/loop","op":"CREATE"}],"paging":{"next":")" +
                     next + R"("}})";
        return fault;
    };
    const std::string first = difference + "?after=1";
    const std::string second = difference + "?after=2";
    const std::vector<std::vector<clustersim::Fault>> loops = {
        {page(difference, first)},
        {page(first, second), page(second, first), page(difference, first)},
    };
    for (const auto& loop : loops) {
        sim.ClearFaults();
        for (const clustersim::Fault& fault : loop) sim.AddFault(fault);
        for (const bool attributes : {true, false}) {
            ChangeCollector collector;
            const ChangeSummary summary = Feed(collector, SmallWindows(attributes));
            EXPECT_NE(summary.error.find("repeated"), std::string::npos) << summary.error;
            EXPECT_LE(summary.totals.differencePages, loop.size() + 1);
        }
    }
}

TEST_F(ChangedTree, RefusedLoginEndsTheFeedWithItsReason) {
    for (const bool attributes : {true, false}) {
        CChangeFeed feed(QuickJob(), sim.BaseUrl(), "admin", "wrong", 3);
        ChangeCollector collector;
        const ChangeSummary summary =
            feed.Run(snapshots.older, snapshots.newer, collector.Sink(), SmallWindows(attributes));
        EXPECT_NE(summary.error.find("log in"), std::string::npos) << summary.error;
        EXPECT_FALSE(summary.stopped);
        EXPECT_EQ(collector.Calls(), 0u);
    }
}

TEST_F(ChangedTree, CheckpointOfAnotherKindOrRunIsRefused) {
    ScratchDirectory scratch("feed");
    std::string error;
    clusterwalk::CCheckpointFile walkFile;
    ASSERT_TRUE(walkFile.Open(scratch.Path() + "/walk.checkpoint", error)) << error;
    ASSERT_TRUE(walkFile.Save(
        {}, [](const clusterwalk::CCheckpointFile::UnitVisitor&) {}, error));
    CChangeFeed feed(QuickJob(), sim.BaseUrl(), "admin", "admin", 2);
    clusterwalk::ChangeCheckpoint checkpoint;
    EXPECT_FALSE(feed.LoadCheckpoint(walkFile, checkpoint, error));
    EXPECT_NE(error.find("not a change feed checkpoint"), std::string::npos) << error;

    clusterwalk::CCheckpointFile feedFile;
    ASSERT_TRUE(feedFile.Open(scratch.Path() + "/changes.checkpoint", error)) << error;
    ChangeFeedOptions options = SmallWindows(true);
    options.checkpoint = &feedFile;
    ChangeCollector collector;
    feed.Run(
        snapshots.older, snapshots.newer,
        [&](std::vector<ChangeRecord>& records) {
            collector.Add(records);
            feed.Stop();
        },
        options);
    clusterwalk::CTreeWalker walker(QuickJob(), sim.BaseUrl(), "admin", "admin", 1);
    clusterwalk::CheckpointHeader header;
    EXPECT_FALSE(walker.LoadCheckpoint(feedFile, header, error));
    EXPECT_NE(error.find("not a walk checkpoint"), std::string::npos) << error;

    for (const bool otherSnapshots : {true, false}) {
        ASSERT_TRUE(feed.LoadCheckpoint(feedFile, checkpoint, error)) << error;
        ChangeCollector refused;
        const ChangeSummary summary =
            otherSnapshots
                ? feed.Run(snapshots.older, snapshots.older, refused.Sink(), options)
                : feed.Run(snapshots.older, snapshots.newer, refused.Sink(), SmallWindows(false));
        EXPECT_FALSE(summary.error.empty());
        EXPECT_EQ(refused.Calls(), 0u);
    }
}

// --- The synthetic snapshots: every kind of change ---

// Changes spread over every directory, and crowded into a tenth of them.
class SyntheticDifference : public ::testing::TestWithParam<std::pair<uint64_t, double>> {};

TEST_P(SyntheticDifference, CountsEachKindInItsProportion) {
    const auto [changes, locality] = GetParam();
    clustersim::Options options;
    options.tls = false;
    options.seedDemo = false;
    options.synthetic.files = 2000;
    options.synthetic.dirs = 50;
    options.synthetic.seed = 7;
    options.synthetic.changes = changes;
    options.synthetic.locality = locality;
    options.defaultPageSize = 100;
    clustersim::Simulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const uint64_t base = feed_test::SnapshotId(sim.BaseUrl(), "synthetic-base");
    const uint64_t target = feed_test::SnapshotId(sim.BaseUrl(), "synthetic-target");
    ASSERT_NE(base, 0u);
    ASSERT_NE(target, 0u);
    ChangeFeedOptions feedOptions;
    feedOptions.window = 150;
    ChangeCollector collector;
    CChangeFeed feed(QuickJob(), sim.BaseUrl(), "admin", "admin", 4);
    const ChangeSummary summary = feed.Run(base, target, collector.Sink(), feedOptions);
    ASSERT_TRUE(summary.Complete()) << summary.error;
    EXPECT_EQ(feed_test::NotOnce(collector.Counts()), "");
    // By change number mod 10: 0, 1 create a file; 2 a directory; 3, 4 delete; 5, 6, 7
    // change content; 8, 9 metadata only.
    const uint64_t tenth = changes / 10;
    const clusterwalk::ChangeTotals& totals = summary.totals;
    EXPECT_EQ(totals.changes, changes);
    EXPECT_EQ(totals.creates, 3 * tenth);
    EXPECT_EQ(totals.deletes, 2 * tenth);
    EXPECT_EQ(totals.contentModifies, 3 * tenth);
    EXPECT_EQ(totals.metadataModifies, 2 * tenth);
    EXPECT_EQ(totals.otherModifies, 0u);
    EXPECT_EQ(totals.withoutAttributes, 0u);
    uint64_t directories = 0;
    for (const auto& [path, record] : collector.Records())
        directories += record.kind == ChangeKind::Create && record.isDirectory &&
                       record.attributes.isDirectory;
    EXPECT_EQ(directories, tenth);
}

INSTANTIATE_TEST_SUITE_P(Locality, SyntheticDifference,
                         ::testing::Values(std::make_pair(uint64_t{500}, 1.0),
                                           std::make_pair(uint64_t{200}, 0.1)),
                         [](const ::testing::TestParamInfo<std::pair<uint64_t, double>>& info) {
                             return info.param.second < 1 ? std::string("Crowded")
                                                          : std::string("Spread");
                         });

}  // namespace
